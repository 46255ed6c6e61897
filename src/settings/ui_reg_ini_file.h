// The settings store: string values addressed by section and key, kept in an INI file
// beside the executable or, where there is one, under a registry key.
#pragma once

#include <memory>
#include <string>

#include "settings/ini_backends.h"
#include "settings/settings_types.h"

namespace settings {

class TUiRegIniFile {
 public:
  TUiRegIniFile();
  virtual ~TUiRegIniFile();
  TUiRegIniFile(const TUiRegIniFile&) = delete;
  TUiRegIniFile& operator=(const TUiRegIniFile&) = delete;

  // INI file name (INI backend) or key path (registry backend); empty means named after
  // the executable.
  const std::string& Path() const { return path_; }
  virtual void SetPath(const std::string& value);
  TUiPathType PathType() const { return pathType_; }
  virtual void SetPathType(TUiPathType value);
  TUiRegKey RegKey() const { return regKey_; }
  virtual void SetRegKey(TUiRegKey value);
  TUiRegAccess RegAccess() const { return regAccess_; }
  virtual void SetRegAccess(TUiRegAccess value);

  // The application title the registry backend names its default key after.
  const std::string& ApplicationTitle() const { return appTitle_; }
  void SetApplicationTitle(const std::string& title) { appTitle_ = title; }

  // True while the backend has to be (re)built by the next operation.
  bool Stale() const { return stale_; }
  // The backend the last operation used, or nullptr if none is built.
  TCustomIniFile* ActiveBackend() const;

  bool SectionHasKeys(const std::string& section);
  std::string ReadText(const std::string& section, const std::string& key,
                       const std::string& fallback);
  void WriteText(const std::string& section, const std::string& key, const std::string& value);

 private:
  // The INI file when Path is empty: beside the executable, or in the user's
  // configuration folder when the program's folder cannot be written.
  static std::string DefaultIniPath();
  // Builds the backend selected by the properties if they changed since it was built.
  void EnsureOpen();
  TCustomIniFile& Backend();

  std::string path_;
  TUiPathType pathType_ = ptIniFile;
  TUiRegKey regKey_ = hkeyCurrentUser;
  TUiRegAccess regAccess_{keyAllAccess};
  bool stale_ = true;
  std::unique_ptr<TIniFile> iniFile_;
  std::unique_ptr<TRegistryIniFile> registryFile_;
  std::string appTitle_;
};

}  // namespace settings
