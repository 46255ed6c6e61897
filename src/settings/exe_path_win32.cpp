#include <windows.h>

#include <string>

#include "settings/platform.h"
#include "settings/settings_types.h"

namespace settings {

std::string ExecutablePath() {
  char buf[261];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  // A name that filled the buffer was cut: better to fail than to use a wrong file.
  if (n == 0 || n >= sizeof buf) {
    throw EIniFileException("Cannot determine the program's file name (error " +
                            std::to_string(n == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER) +
                            ")");
  }
  return std::string(buf, n);
}

// A drive ends with ':', a folder with '\'; Windows takes '/' for '\' as well.
std::string_view PlatformPathDelimiters() {
  return "\\:/";
}

}  // namespace settings
