// The INI backend on Windows: the system's profile functions, which also cache and
// serialise access to the file.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/utf8_win32.h"
#include "settings/ini_backends.h"

namespace settings {

namespace {

constexpr DWORD kValueBufferSize = 2048;  // a value reads back with at most 2047 characters
constexpr DWORD kKeyListBufferSize = 16384;

std::wstring Wide(const std::string& text) {
  return platform::Utf8ToWide(text);
}

}  // namespace

std::string TIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) {
  // The wide calls: the file stays in the ANSI code page, as the program always wrote it,
  // and the system converts both ways.
  wchar_t buf[kValueBufferSize];
  const DWORD n =
      GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(fallback).c_str(),
                               buf, kValueBufferSize, Wide(FileName()).c_str());
  return platform::WideToUtf8(
      std::wstring_view(buf, n < kValueBufferSize ? n : kValueBufferSize - 1));
}

void TIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) {
  if (!WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(value).c_str(),
                                  Wide(FileName()).c_str())) {
    throw EIniFileException("Unable to write to " + FileName());
  }
}

void TIniFile::ListKeys(const std::string& section, std::vector<std::string>& list) {
  list.clear();
  auto buf = std::make_unique<wchar_t[]>(kKeyListBufferSize);
  const DWORD n = GetPrivateProfileStringW(Wide(section).c_str(), nullptr, nullptr, buf.get(),
                                           kKeyListBufferSize, Wide(FileName()).c_str());
  if (n == 0) return;
  // Names, each ended by a zero byte; the call reports the length without the final one.
  // A list cut short by the buffer ends with its last whole name.
  for (DWORD pos = 0; pos < n && buf[pos] != L'\0';) {
    const std::wstring name(buf.get() + pos);
    list.push_back(platform::WideToUtf8(name));
    pos += static_cast<DWORD>(name.size()) + 1;
  }
}

void TIniFile::FlushFile() {
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, Wide(FileName()).c_str());
}

}  // namespace settings
