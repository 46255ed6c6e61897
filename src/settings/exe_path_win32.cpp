#include <windows.h>

#include <string>

#include "platform/utf8_win32.h"
#include "settings/platform.h"
#include "settings/settings_types.h"

namespace settings {

std::string ExecutablePath() {
  wchar_t buf[32768];  // the longest path the system knows
  const DWORD n = GetModuleFileNameW(nullptr, buf, sizeof buf / sizeof buf[0]);
  // A name that filled the buffer was cut: better to fail than to use a wrong file.
  if (n == 0 || n >= sizeof buf / sizeof buf[0]) {
    throw EIniFileException("Cannot determine the program's file name (error " +
                            std::to_string(n == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER) +
                            ")");
  }
  return platform::WideToUtf8(std::wstring_view(buf, n));
}

std::string UserConfigDir() {
  // A user name in Cyrillic is in this path: read it wide, not in the ANSI code page.
  wchar_t buf[32768];
  const DWORD n = GetEnvironmentVariableW(L"APPDATA", buf, sizeof buf / sizeof buf[0]);
  if (n == 0 || n >= sizeof buf / sizeof buf[0]) return {};
  return platform::WideToUtf8(std::wstring_view(buf, n));
}

// Folder permissions on Windows are lists, not bits: the only sure test is to make a file.
bool FolderWritable(const std::string& folder) {
  wchar_t name[MAX_PATH + 1];
  if (GetTempFileNameW(platform::Utf8ToWide(folder).c_str(), L"ini", 0, name) == 0) return false;
  DeleteFileW(name);
  return true;
}

bool FileWritable(const std::string& file) {
  const std::wstring name = platform::Utf8ToWide(file);
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE handle =
      CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // Open elsewhere without sharing: still this user's file.
    if (GetLastError() == ERROR_SHARING_VIOLATION) return true;
    // A read-only mark is the user's own to lift when he may change the file's attributes.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0)
      return false;
    handle = CreateFileW(name.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
  }
  CloseHandle(handle);
  return true;
}

void MakeFolderFor(const std::string& file) {
  const auto slash = file.find_last_of("\\/");
  if (slash == std::string::npos) return;
  const std::string folder = file.substr(0, slash);
  // One level is enough: %APPDATA% itself exists.
  CreateDirectoryW(platform::Utf8ToWide(folder).c_str(), nullptr);
}

}  // namespace settings
