#include "settings/ini_backends.h"

namespace settings {

bool TCustomIniFile::SectionHasKeys(const std::string& section) {
  std::vector<std::string> keys;
  ListKeys(section, keys);
  return !keys.empty();
}

}  // namespace settings
