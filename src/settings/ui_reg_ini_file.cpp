#include "settings/ui_reg_ini_file.h"

#include "platform/file.h"
#include "platform/file_names.h"
#include "settings/platform.h"
#include "settings/store_rules.h"

namespace settings {

TUiRegIniFile::TUiRegIniFile() = default;

TUiRegIniFile::~TUiRegIniFile() {
  iniFile_.reset();
  registryFile_.reset();
}

void TUiRegIniFile::SetPath(const std::string& value) {
  if (value == path_) return;
  path_ = value;
  stale_ = true;
}

void TUiRegIniFile::SetPathType(TUiPathType value) {
  if (value == pathType_) return;
  pathType_ = value;
  stale_ = true;
}

void TUiRegIniFile::SetRegKey(TUiRegKey value) {
  if (value == regKey_) return;
  regKey_ = value;
  stale_ = true;
}

void TUiRegIniFile::SetRegAccess(TUiRegAccess value) {
  if (value == regAccess_) return;
  regAccess_ = value;
  stale_ = true;
}

TCustomIniFile* TUiRegIniFile::ActiveBackend() const {
  if (pathType_ == ptIniFile) return iniFile_.get();
  return registryFile_.get();
}

void TUiRegIniFile::EnsureOpen() {
  if (!stale_) return;
  iniFile_.reset();
  registryFile_.reset();
  std::string name = path_;
  if (pathType_ == ptIniFile) {
    if (name.empty()) name = DefaultIniPath();
    iniFile_ = std::make_unique<TIniFile>(name);
  } else {
    if (name.empty()) {
      const std::string exe = appTitle_.empty() ? ExecutablePath() : std::string();
      name = DefaultRegistryKeyName(appTitle_, exe, platform::kPathDelimiters);
    }
    auto registry = std::make_unique<TRegistryIniFile>("", RegAccessMask(regAccess_));
    registry->OpenRoot(regKey_, name);
    registryFile_ = std::move(registry);
  }
  // Reached only when every step succeeded; otherwise the next operation tries again.
  stale_ = false;
}

std::string TUiRegIniFile::DefaultIniPath() {
  const TIniPlaces places = IniPlaces(ExecutablePath(), UserConfigDir(), platform::kPathDelimiters);
  const std::string besideFolder =
      places.beside.substr(0, places.beside.size() - platform::FileNamePart(places.beside).size());
  const bool exists = platform::KindOf(places.beside) != platform::TFileKind::ftMissing;
  // A file beside the program that another user made (one `sudo loader`) is not this
  // user's to read choices from or write them to.
  const std::string name =
      ChooseIniPath(places, exists, FolderWritable(besideFolder.empty() ? "." : besideFolder),
                    exists && FileWritable(places.beside));
  if (name != places.beside) MakeFolderFor(name);
  return name;
}

TCustomIniFile& TUiRegIniFile::Backend() {
  EnsureOpen();
  return *ActiveBackend();
}

bool TUiRegIniFile::SectionHasKeys(const std::string& section) {
  return Backend().SectionHasKeys(section);
}

std::string TUiRegIniFile::ReadText(const std::string& section, const std::string& key,
                                    const std::string& fallback) {
  return Backend().ReadText(section, key, fallback);
}

void TUiRegIniFile::WriteText(const std::string& section, const std::string& key,
                              const std::string& value) {
  Backend().WriteText(section, key, value);
}

}  // namespace settings
