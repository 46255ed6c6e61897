// The two backends of the settings store: an INI file and a registry key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings_types.h"

namespace settings {

// String values addressed by section and key.
class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  // The name the backend was created with.
  const std::string& FileName() const { return fileName_; }

  virtual std::string ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) = 0;
  virtual void WriteText(const std::string& section, const std::string& key,
                         const std::string& value) = 0;
  // Replaces the contents of `list` with the key names of `section`.
  virtual void ListKeys(const std::string& section, std::vector<std::string>& list) = 0;
  virtual void FlushFile() = 0;

  // Whether `section` exists and holds at least one key.
  bool SectionHasKeys(const std::string& section);

 private:
  std::string fileName_;
};

// An INI file. Nothing is read or written until the first operation; reads never create
// the file. A write that cannot be carried out raises EIniFileException
// "Unable to write to <file name>" and leaves the file as it was.
class TIniFile : public TCustomIniFile {
 public:
  explicit TIniFile(std::string fileName);
  ~TIniFile() override;  // flushes first

  std::string ReadText(const std::string& section, const std::string& key,
                       const std::string& fallback) override;
  void WriteText(const std::string& section, const std::string& key,
                 const std::string& value) override;
  void ListKeys(const std::string& section, std::vector<std::string>& list) override;
  void FlushFile() override;
};

// A registry key whose subkeys are the sections and whose string values are the keys.
// Where the platform has no registry, construction raises ERegistryException.
class TRegistryIniFile : public TCustomIniFile {
 public:
  // The accessor starts on the root HKEY_CURRENT_USER itself and requests `accessMask`.
  TRegistryIniFile(std::string fileName, std::uint32_t accessMask);
  ~TRegistryIniFile() override;

  // Switches the accessor to `root` (closing its current key), then opens `keyPath` below
  // it (a leading backslash is dropped), creating it if absent. The outcome of that open
  // is not reported.
  void OpenRoot(TUiRegKey root, const std::string& keyPath);

  std::string ReadText(const std::string& section, const std::string& key,
                       const std::string& fallback) override;
  void WriteText(const std::string& section, const std::string& key,
                 const std::string& value) override;
  void ListKeys(const std::string& section, std::vector<std::string>& list) override;
  void FlushFile() override;

 private:
  struct TRegIniFile;  // the platform's registry accessor
  std::unique_ptr<TRegIniFile> reg_;
};

}  // namespace settings
