// Types shared by the settings store and its backends.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace settings {

// An INI write that could not be carried out ("Unable to write to <file>"), or an INI
// file whose name could not be worked out.
class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A registry operation that failed, or a registry backend asked for where there is none.
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Which backend the store uses.
enum TUiPathType : std::uint8_t { ptIniFile = 0, ptRegistry = 1 };

// Registry root for the registry backend.
enum TUiRegKey : std::uint8_t {
  hkeyClassesRoot = 0,
  hkeyCurrentUser = 1,
  hkeyLocalMachine = 2,
  hkeyUsers = 3,
  hkeyPerformanceData = 4,
  hkeyCurrentConfig = 5,
  hkeyDynData = 6,
};

// Members of the registry access set; the value is the member's bit number in the set.
enum TUiRegAccessKey : std::uint8_t {
  keyQueryValue = 0,
  keySetValue = 1,
  keyCreateSubKey = 2,
  keyEnumerateSubKeys = 3,
  keyNotify = 4,
  keyCreateLink = 5,
  keyRead = 6,
  keyWrite = 7,
  keyExecute = 8,
  keyAllAccess = 9,
};

// A 16-bit set of TUiRegAccessKey members.
class TUiRegAccess {
 public:
  constexpr TUiRegAccess() = default;
  constexpr TUiRegAccess(std::initializer_list<TUiRegAccessKey> keys) {
    for (TUiRegAccessKey k : keys) bits_ = static_cast<std::uint16_t>(bits_ | (1u << k));
  }
  static constexpr TUiRegAccess FromBits(std::uint16_t bits) {
    TUiRegAccess set;
    set.bits_ = bits;
    return set;
  }
  constexpr std::uint16_t Bits() const { return bits_; }
  constexpr bool Contains(TUiRegAccessKey k) const { return (bits_ >> k) & 1u; }
  friend constexpr bool operator==(TUiRegAccess, TUiRegAccess) = default;

 private:
  std::uint16_t bits_ = 0;
};

}  // namespace settings
