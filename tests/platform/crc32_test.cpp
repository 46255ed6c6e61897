#include "platform/crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Known values, and every split of a text longer than one eight-byte step giving the
// CRC-32 of the whole (the steps and the tail agree).
TEST(Crc32, KnownValuesAndContinuation) {
  struct {
    std::string text;
    std::uint32_t crc;
  } const cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string(3, '\xFF'), 0xFFFFFF00u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(platform::Crc32(0, c.text.data(), c.text.size()), c.crc);
    for (std::size_t cut = 0; cut <= c.text.size(); ++cut) {
      const std::uint32_t head = platform::Crc32(0, c.text.data(), cut);
      EXPECT_EQ(platform::Crc32(head, c.text.data() + cut, c.text.size() - cut), c.crc);
    }
  }
}

}  // namespace
