#include "settings/ini_backends.h"

#include <utility>

namespace settings {

TIniFile::TIniFile(std::string fileName) : TCustomIniFile(std::move(fileName)) {}

TIniFile::~TIniFile() {
  FlushFile();
}

bool TCustomIniFile::SectionHasKeys(const std::string& section) {
  std::vector<std::string> keys;
  ListKeys(section, keys);
  return !keys.empty();
}

}  // namespace settings
