// Eight bytes a step through eight tables: images run to hundreds of megabytes, and the
// conversion that fingerprints them is measured against objcopy.
#include "platform/crc32.h"

#include <array>

namespace platform {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

using TTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr TTables MakeTables() {
  TTables tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) != 0 ? kPolynomial : 0u);
    tables[0][i] = crc;
  }
  for (std::size_t t = 1; t < tables.size(); ++t) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      const std::uint32_t prev = tables[t - 1][i];
      tables[t][i] = (prev >> 8) ^ tables[0][prev & 0xFF];
    }
  }
  return tables;
}

constexpr TTables kTables = MakeTables();

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  while (size >= 8) {
    // Read byte by byte, so that the host's byte order does not matter.
    std::uint32_t low = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                        static_cast<std::uint32_t>(p[2]) << 16 |
                        static_cast<std::uint32_t>(p[3]) << 24;
    std::uint32_t high = static_cast<std::uint32_t>(p[4]) | static_cast<std::uint32_t>(p[5]) << 8 |
                         static_cast<std::uint32_t>(p[6]) << 16 |
                         static_cast<std::uint32_t>(p[7]) << 24;
    low ^= crc;
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
          kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) crc = (crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF];
  return ~crc;
}

}  // namespace platform
