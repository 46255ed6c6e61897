#include "platform/crc32.h"

#include <gtest/gtest.h>

#include <string>

// Known values; every split of the text gives the CRC-32 of the whole (steps and tail agree).
TEST(Crc32, KnownValuesAndContinuation) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"", 0},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
  for (const auto& [text, crc] : cases) {
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      const std::uint32_t head = platform::Crc32(0, text.data(), cut);
      EXPECT_EQ(platform::Crc32(head, text.data() + cut, text.size() - cut), crc) << text << cut;
    }
  }
}
