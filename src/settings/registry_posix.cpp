// No registry here: asking for the registry backend fails clearly, and the store stays
// stale so that it recovers once an INI backend is selected again.
#include "settings/ini_backends.h"

namespace settings {

struct TRegistryIniFile::TRegIniFile {};

TRegistryIniFile::TRegistryIniFile(std::string fileName, std::uint32_t /*accessMask*/)
    : TCustomIniFile(std::move(fileName)) {
  throw ERegistryException("The registry is not available on this platform");
}

TRegistryIniFile::~TRegistryIniFile() = default;

void TRegistryIniFile::OpenRoot(TUiRegKey /*root*/, const std::string& /*keyPath*/) {}

std::string TRegistryIniFile::ReadText(const std::string&, const std::string&,
                                       const std::string& fallback) {
  return fallback;
}

void TRegistryIniFile::WriteText(const std::string&, const std::string&, const std::string&) {
  throw ERegistryException("The registry is not available on this platform");
}

void TRegistryIniFile::ListKeys(const std::string&, std::vector<std::string>& list) {
  list.clear();
}

void TRegistryIniFile::FlushFile() {}

}  // namespace settings
