#include <filesystem>
#include <system_error>

#include "settings/platform.h"
#include "settings/settings_types.h"

namespace settings {

std::string ExecutablePath() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || path.empty()) {
    throw EIniFileException("Cannot determine the program's file name: " + ec.message());
  }
  return path.string();
}

// '/' separates directories; '\' and ':' are kept as stops too, so names behave alike
// wherever the settings file is named.
std::string_view PlatformPathDelimiters() {
  return "\\:/";
}

}  // namespace settings
