#include "settings/store_rules.h"

#include <array>

#include "platform/file_names.h"

namespace settings {

using platform::ChangeExtension;
using platform::FileNamePart;

TIniPlaces IniPlaces(const std::string& exePath, const std::string& userConfigDir,
                     std::string_view delimiters) {
  TIniPlaces places;
  places.beside = ChangeExtension(exePath, ".ini", delimiters);
  if (!userConfigDir.empty()) {
    const std::string program = ChangeExtension(FileNamePart(exePath, delimiters), "", delimiters);
    std::string dir = userConfigDir;
    // Continue the folder in its own style: backslashes for a Windows folder.
    const char separator =
        dir.find('/') == std::string::npos && dir.find('\\') != std::string::npos ? '\\' : '/';
    if (delimiters.find(dir.back()) == std::string_view::npos) dir += separator;
    places.inUserDir = dir + program + separator + program + ".ini";
  }
  return places;
}

std::string ChooseIniPath(const TIniPlaces& places, bool besideExists, bool besideFolderWritable,
                          bool besideFileWritable) {
  const bool usable = besideExists ? besideFileWritable : besideFolderWritable;
  if (usable || places.inUserDir.empty()) return places.beside;
  return places.inUserDir;
}

std::string DefaultRegistryKeyName(const std::string& appTitle, const std::string& exePath,
                                   std::string_view delimiters) {
  const std::string prefix = "\\Software\\Temp\\";
  if (!appTitle.empty()) return prefix + appTitle;
  return prefix + ChangeExtension(FileNamePart(exePath, delimiters), "", delimiters);
}

std::string KeyPathBelowRoot(const std::string& name) {
  return (!name.empty() && name.front() == '\\') ? name.substr(1) : name;
}

std::uint32_t RegAccessMask(TUiRegAccess access) {
  // Indexed by TUiRegAccessKey; set bits above keyAllAccess name no member.
  static constexpr std::array<std::uint32_t, 10> kBits = {
      0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x20019, 0x20006, 0x20019, 0xF003F,
  };
  std::uint32_t mask = 0;
  for (std::size_t k = 0; k < kBits.size(); ++k) {
    if (access.Contains(static_cast<TUiRegAccessKey>(k))) mask |= kBits[k];
  }
  return mask;
}

}  // namespace settings
