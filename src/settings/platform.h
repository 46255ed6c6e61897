// What the settings store asks of the platform about file names (exe_path_<platform>.cpp).
#pragma once

#include <string>
#include <string_view>

namespace settings {

// Full file name of the running executable. Raises EIniFileException if the platform
// cannot report it.
std::string ExecutablePath();

// The characters that end a directory or drive part of a file name on this platform.
std::string_view PlatformPathDelimiters();

}  // namespace settings
