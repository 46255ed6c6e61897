#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/file.h"
#include "settings/platform.h"
#include "settings/settings_types.h"

namespace settings {

std::string ExecutablePath() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || path.empty()) {
    throw EIniFileException(
        "Cannot determine the program's file name: " +
        platform::SystemErrorText(static_cast<platform::TErrorCode>(ec.value())));
  }
  return path.string();
}

std::string UserConfigDir() {
  // Only absolute folders count, as the XDG rules ask.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return std::string(home) + "/.config";
  return {};
}

bool FolderWritable(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool FileWritable(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return false;
  const bool mayWrite = st.st_uid == ::geteuid() || ::access(file.c_str(), W_OK) == 0;
  // A write replaces the file by a rename in its folder.
  const std::string folder = std::filesystem::path(file).parent_path().string();
  return mayWrite && FolderWritable(folder.empty() ? "." : folder);
}

void MakeFolderFor(const std::string& file) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
}

}  // namespace settings
