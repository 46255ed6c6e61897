// A number as the program writes it for people: "0x" and upper-case hex digits, at least
// `digits` of them ("0x0180", "0x5A", "0x15724D40").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

inline std::string HexText(std::uint64_t value, int digits) {
  int needed = 1;
  while (needed < 16 && (value >> (4 * needed)) != 0) ++needed;
  const int width = needed > digits ? needed : digits;
  std::string text(2 + static_cast<std::size_t>(width), '0');
  text[1] = 'x';
  for (std::size_t i = text.size() - 1; value != 0; --i, value >>= 4)
    text[i] = "0123456789ABCDEF"[value & 0xF];
  return text;
}

}  // namespace platform
