// Naming and access rules of the settings store: plain string arithmetic, the same on
// every platform, so that the platform layers only make the system calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings_types.h"

namespace settings {

// Where the INI file lives when the store's Path is empty. Beside the executable (named
// like it, with ".ini") when this user may write that file, or, where it does not exist,
// make it in its folder: portable use. Otherwise (an installed program in a folder its user
// cannot write, or a file there that another user made) in the user's configuration folder,
// in a folder named after the program: "<config>/loader/loader.ini". An empty userConfigDir
// leaves the file beside the executable.
struct TIniPlaces {
  std::string beside;     // the file beside the executable
  std::string inUserDir;  // the file in the user's configuration folder, or ""
};
TIniPlaces IniPlaces(const std::string& exePath, const std::string& userConfigDir,
                     std::string_view delimiters);
std::string ChooseIniPath(const TIniPlaces& places, bool besideExists, bool besideFolderWritable,
                          bool besideFileWritable = true);

// The registry key the store uses when its Path is empty: "\Software\Temp\" followed by
// the application title, or by the executable's base name when there is no title.
std::string DefaultRegistryKeyName(const std::string& appTitle, const std::string& exePath,
                                   std::string_view delimiters);

// The key path to open below a registry root: `name` without one leading backslash.
std::string KeyPathBelowRoot(const std::string& name);

// The access mask the registry backend requests for an access set.
std::uint32_t RegAccessMask(TUiRegAccess access);

}  // namespace settings
