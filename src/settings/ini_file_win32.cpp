// The INI backend on Windows: the system's profile functions, which also cache and
// serialise access to the file.
#include <windows.h>

#include <memory>
#include <string>

#include "settings/ini_backends.h"

namespace settings {

namespace {

constexpr DWORD kValueBufferSize = 2048;  // a value reads back with at most 2047 characters
constexpr DWORD kKeyListBufferSize = 16384;

}  // namespace

std::string TIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) {
  char buf[kValueBufferSize];
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buf,
                                           kValueBufferSize, FileName().c_str());
  return std::string(buf, n < kValueBufferSize ? n : kValueBufferSize - 1);
}

void TIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) {
  if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                  FileName().c_str())) {
    throw EIniFileException("Unable to write to " + FileName());
  }
}

void TIniFile::ListKeys(const std::string& section, std::vector<std::string>& list) {
  list.clear();
  auto buf = std::make_unique<char[]>(kKeyListBufferSize);
  const DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, nullptr, buf.get(),
                                           kKeyListBufferSize, FileName().c_str());
  if (n == 0) return;
  // Names, each ended by a zero byte; the call reports the length without the final one.
  // A list cut short by the buffer ends with its last whole name.
  for (DWORD pos = 0; pos < n && buf[pos] != '\0';) {
    const std::string name(buf.get() + pos);
    list.push_back(name);
    pos += static_cast<DWORD>(name.size()) + 1;
  }
}

void TIniFile::FlushFile() {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, FileName().c_str());
}

}  // namespace settings
