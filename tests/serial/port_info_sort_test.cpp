// The port menu's order.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "serial/port_info.h"

namespace serial {
namespace {

struct SortCase {
  const char* label;
  std::vector<std::string> in, out;
};
// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const SortCase& c, std::ostream* os) {
  *os << c.label;
}

class SortPortNamesTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortPortNamesTest, SortsAsThePortMenu) {
  std::vector<std::string> names = GetParam().in;
  SortPortNames(names);
  EXPECT_EQ(names, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SortPortNamesTest,
    ::testing::Values(SortCase{"Empty", {}, {}},
                      SortCase{
                          "ComByCharacters", {"COM2", "COM10", "COM1"}, {"COM1", "COM10", "COM2"}},
                      SortCase{"TtyByCharacters",
                               {"ttyS2", "ttyS10", "ttyACM0", "ttyS1"},
                               {"ttyACM0", "ttyS1", "ttyS10", "ttyS2"}},
                      SortCase{"IgnoresCase",
                               {"ttyUSB0", "bootsim0", "COM3", "Zeta"},
                               {"bootsim0", "COM3", "ttyUSB0", "Zeta"}},
                      SortCase{"PrefixFirst", {"COM", "COM1", "CO"}, {"CO", "COM", "COM1"}},
                      SortCase{"EqualNamesKeepTheirOrder",
                               {"com1", "COM2", "COM1", "Com1"},
                               {"com1", "COM1", "Com1", "COM2"}}),
    [](const ::testing::TestParamInfo<SortCase>& info) { return info.param.label; });

// Up to 2 ms the timer costs little; above it the description says so.
TEST(LatencyTimerNote, SaysSoAboveTwoMilliseconds) {
  const struct {
    unsigned long ms;
    const char* starts;
  } cases[] = {{0, ""}, {1, ""}, {2, ""}, {3, "latency timer 3 ms,"}, {16, "latency timer 16 ms,"}};
  for (const auto& c : cases) {
    const std::string note = LatencyTimerNote(c.ms);
    EXPECT_EQ(note.substr(0, std::string(c.starts).size()), c.starts) << c.ms;
    EXPECT_EQ(note.empty(), *c.starts == '\0') << c.ms;
  }
}

}  // namespace
}  // namespace serial
