// The registry backend on Windows: sections are subkeys of the accessor's current key, keys
// are string values in them.
#include <windows.h>

#include <string>
#include <vector>

#include "settings/ini_backends.h"

namespace settings {

namespace {

HKEY RootKey(TUiRegKey root) {
  switch (root) {
    case hkeyClassesRoot:
      return HKEY_CLASSES_ROOT;
    case hkeyCurrentUser:
      return HKEY_CURRENT_USER;
    case hkeyLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case hkeyUsers:
      return HKEY_USERS;
    case hkeyPerformanceData:
      return HKEY_PERFORMANCE_DATA;
    case hkeyCurrentConfig:
      return HKEY_CURRENT_CONFIG;
    case hkeyDynData:
      return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000006));
  }
  return HKEY_CURRENT_USER;
}

// Owns one opened key and closes it.
class TKey {
 public:
  TKey() = default;
  ~TKey() { Reset(); }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  HKEY* Out() {
    Reset();
    return &h_;
  }
  HKEY get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Reset() {
    if (h_) RegCloseKey(h_);
    h_ = nullptr;
  }

 private:
  HKEY h_ = nullptr;
};

std::string WithoutLeadingBackslash(const std::string& path) {
  return (!path.empty() && path.front() == '\\') ? path.substr(1) : path;
}

}  // namespace

// The accessor: a root key, the current key below it (none: the root itself) and the access
// that every key is opened with.
struct TRegistryIniFile::TRegIniFile {
  HKEY root = HKEY_CURRENT_USER;
  TKey current;
  REGSAM access = 0;

  HKEY Base() const { return current ? current.get() : root; }

  // Opens the section's subkey below the current key; an empty section is the current key.
  bool OpenSection(const std::string& section, TKey& key) const {
    return RegOpenKeyExA(Base(), section.c_str(), 0, access, key.Out()) == ERROR_SUCCESS;
  }
};

TRegistryIniFile::TRegistryIniFile(std::string fileName, std::uint32_t accessMask)
    : TCustomIniFile(std::move(fileName)), reg_(std::make_unique<TRegIniFile>()) {
  reg_->access = accessMask;
  if (!FileName().empty()) {
    RegCreateKeyExA(reg_->root, WithoutLeadingBackslash(FileName()).c_str(), 0, nullptr, 0,
                    reg_->access, nullptr, reg_->current.Out(), nullptr);
  }
}

TRegistryIniFile::~TRegistryIniFile() = default;

void TRegistryIniFile::OpenRoot(TUiRegKey root, const std::string& keyPath) {
  reg_->current.Reset();
  reg_->root = RootKey(root);
  const std::string path = WithoutLeadingBackslash(keyPath);
  if (path.empty()) return;
  if (RegCreateKeyExA(reg_->root, path.c_str(), 0, nullptr, 0, reg_->access, nullptr,
                      reg_->current.Out(), nullptr) != ERROR_SUCCESS) {
    reg_->current.Reset();
  }
}

std::string TRegistryIniFile::ReadText(const std::string& section, const std::string& key,
                                       const std::string& fallback) {
  TKey sec;
  if (!reg_->OpenSection(section, sec)) return fallback;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(sec.get(), key.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return fallback;
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryException("Invalid data type for '" + key + "'");
  // The value may grow between the two calls; ask again with the new size then.
  std::string data;
  for (;;) {
    data.assign(size + 1, '\0');
    DWORD got = size;
    const LONG rc = RegQueryValueExA(sec.get(), key.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA) {
      size = got;
      continue;
    }
    if (rc != ERROR_SUCCESS) return fallback;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
      throw ERegistryException("Invalid data type for '" + key + "'");
    data.resize(got);
    break;
  }
  const auto end = data.find('\0');
  if (end != std::string::npos) data.resize(end);
  return data;
}

void TRegistryIniFile::WriteText(const std::string& section, const std::string& key,
                                 const std::string& value) {
  TKey sec;
  if (RegCreateKeyExA(reg_->Base(), section.c_str(), 0, nullptr, 0, reg_->access, nullptr,
                      sec.Out(), nullptr) != ERROR_SUCCESS) {
    throw ERegistryException("Failed to create key " + section);
  }
  if (RegSetValueExA(sec.get(), key.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
    throw ERegistryException("Failed to set data for '" + key + "'");
  }
}

void TRegistryIniFile::ListKeys(const std::string& section, std::vector<std::string>& list) {
  list.clear();
  TKey sec;
  if (!reg_->OpenSection(section, sec)) return;
  DWORD count = 0;
  DWORD maxName = 0;
  if (RegQueryInfoKeyA(sec.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                       &maxName, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  std::vector<char> name(maxName + 1);
  for (DWORD i = 0; i < count; ++i) {
    DWORD len = static_cast<DWORD>(name.size());
    if (RegEnumValueA(sec.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    list.emplace_back(name.data(), len);
  }
}

// Registry changes are the system's to write out.
void TRegistryIniFile::FlushFile() {}

}  // namespace settings
