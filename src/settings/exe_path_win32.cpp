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
  char buf[MAX_PATH + 1];
  const DWORD n = GetEnvironmentVariableA("APPDATA", buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return {};
  return std::string(buf, n);
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Folder permissions on Windows are lists, not bits: the only sure test is to make a file.
bool FolderWritable(const std::string& folder) {
  char name[MAX_PATH + 1];
  if (GetTempFileNameA(folder.c_str(), "ini", 0, name) == 0) return false;
  DeleteFileA(name);
  return true;
}

void MakeFolderFor(const std::string& file) {
  const auto slash = file.find_last_of("\\/");
  if (slash == std::string::npos) return;
  const std::string folder = file.substr(0, slash);
  // One level is enough: %APPDATA% itself exists.
  CreateDirectoryA(folder.c_str(), nullptr);
}

// A drive ends with ':', a folder with '\'; Windows takes '/' for '\' as well.
std::string_view PlatformPathDelimiters() {
  return "\\:/";
}

}  // namespace settings
