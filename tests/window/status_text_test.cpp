// The status line's texts after a transfer.
#include "window/status_text.h"

#include <gtest/gtest.h>

namespace {

struct TNoticeCase {
  std::uint64_t bytes;
  double seconds;
  const char* expected;
};

TEST(StatusText, FinishedNoticeSaysFileSizeAndTime) {
  const TNoticeCase cases[] = {
      {3072, 3.14, "Загружено: blink.hex, 3072 байта, 3,1 с"},
      {1, 0.04, "Загружено: blink.hex, 1 байт, 0,0 с"},
      {12, 0.05, "Загружено: blink.hex, 12 байт, 0,1 с"},
      {600, 59.96, "Загружено: blink.hex, 600 байт, 60,0 с"},
      {0, -1.0, "Загружено: blink.hex, 0 байт, 0,0 с"},
  };
  for (const TNoticeCase& c : cases)
    EXPECT_EQ(window::FinishedNotice("blink.hex", c.bytes, c.seconds), c.expected) << c.bytes;
}

TEST(StatusText, StopReasonNamesWhatWasAwaitedAndWhatCame) {
  using engine::TOutcome;
  struct TCase {
    TOutcome outcome;
    engine::TStopDetail stop;
    const char* expected;
  };
  const TCase cases[] = {
      {TOutcome::ocErrorStop,
       {engine::tsAwaitBlockSum, 3, 0x0180, 0x5A, true, 0x12},
       "Ошибка ответа: блок 3 (0x0180), ожидалось 0x5A, получено 0x12"},
      {TOutcome::ocErrorStop,
       {engine::tsAwaitPageAck, -1, 0x0200, 0xAA, true, 0x00},
       "Ошибка ответа: команда страницы 0x0200, ожидалось 0xAA, получено 0x00"},
      {TOutcome::ocErrorStop,
       {engine::tsAwaitDevice, -1, 0, 0x55, true, 0x7E},
       "Ошибка ответа: включение устройства, ожидалось 0x55, получено 0x7E"},
      {TOutcome::ocNoReply,
       {engine::tsAwaitHandshakeAck, -1, 0, 0xAA, false, 0},
       "Нет ответа от устройства: рукопожатие"},
  };
  for (const TCase& c : cases) EXPECT_EQ(window::StopReason(c.outcome, c.stop), c.expected);
}

// Size, the addresses filled from 0 (at least four digits, more as the image needs) and the
// CRC-32 as loader-cli writes it.
TEST(StatusText, IdentityNamesSizeRangeAndCrc) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {3072, "3072 байта, 0x0000–0x0BFF, CRC-32 0x0A2B3C4D"},
      {1, "1 байт, 0x0000–0x0000, CRC-32 0x0A2B3C4D"},
      {0x10000, "65536 байт, 0x0000–0xFFFF, CRC-32 0x0A2B3C4D"},
      {0x10001, "65537 байт, 0x00000–0x10000, CRC-32 0x0A2B3C4D"},
      {0, "0 байт, CRC-32 0x0A2B3C4D"},
  };
  for (const auto& [bytes, expected] : cases)
    EXPECT_EQ(window::IdentityText(bytes, 0x0A2B3C4D), expected) << bytes;
  EXPECT_EQ(window::FinishedNotice("blink.hex", 12, 0.05, 0xFFFFFFFF),
            "Загружено: blink.hex, 12 байт, 0,1 с, CRC-32 0xFFFFFFFF");
}

// The error box's second line: the stop's detail without the heading.
TEST(StatusText, StopDetailIsTheReasonWithoutItsHeading) {
  EXPECT_EQ(window::StopDetail({engine::tsAwaitBlockSum, 3, 0x0180, 0x5A, true, 0x12}),
            "блок 3 (0x0180), ожидалось 0x5A, получено 0x12");
  EXPECT_EQ(window::StopDetail({engine::tsAwaitHandshakeAck, -1, 0, 0xAA, false, 0}),
            "рукопожатие");
  EXPECT_EQ(window::StopDetail({}), "");
}

TEST(StatusText, FirstLineStopsAtEitherLineEnd) {
  EXPECT_EQ(window::FirstLine("one\r\ntwo"), "one");
  EXPECT_EQ(window::FirstLine("one\ntwo"), "one");
  EXPECT_EQ(window::FirstLine("only"), "only");
}

}  // namespace
