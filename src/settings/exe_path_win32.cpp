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

// A drive ends with ':', a folder with '\'; Windows takes '/' for '\' as well.
std::string_view PlatformPathDelimiters() {
  return "\\:/";
}

}  // namespace settings
