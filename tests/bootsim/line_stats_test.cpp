// The --stats figures from a script of line events, without a terminal.
#include "line_stats.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace bootsim {
namespace {

struct TStep {
  enum TKind { skLoader, skWrite, skRestart } what;
  Ns at;
  Ns end = 0;  // Write: when the write returned
  std::size_t bytes = 0;
  bool reply = false;  // Write: a reply among the bytes; Loader: a session opens
};

struct TStatsCase {
  const char* name;
  bool paced;
  std::vector<TStep> steps;
  std::string figures;  // after the header lines byte_ns and paced
};

TEST(LineStats, FiguresOfAScript) {
  const TStatsCase cases[] = {
      {"no loader",
       false,
       {{TStep::skWrite, 0, 10, 1, true}},
       "line_bytes 0\nline_ns 0\nturnarounds 0\n"},
      {"announcement, then one session with two turnarounds",
       true,
       {{TStep::skWrite, 100, 110, 1, true},
        {TStep::skLoader, 400, 0, 0, true},
        {TStep::skWrite, 500, 520, 3, true},
        {TStep::skLoader, 900},
        {TStep::skWrite, 950, 960, 2}},
       "line_bytes 5\nline_ns 560\nturnarounds 2\nturnaround_ns 300\nturnaround_ns 400\n"},
      {"power-on forgets the unanswered reply and closes the session",
       false,
       {{TStep::skLoader, 0, 0, 0, true},
        {TStep::skWrite, 10, 20, 1, true},
        {TStep::skRestart, 50},
        {TStep::skLoader, 100, 0, 0, true},
        {TStep::skWrite, 110, 130, 2}},
       "line_bytes 3\nline_ns 50\nturnarounds 0\n"},
  };
  for (const TStatsCase& c : cases) {
    TLineStats stats;
    for (const TStep& s : c.steps) {
      switch (s.what) {
        case TStep::skLoader:
          EXPECT_EQ(stats.LoaderSent(s.at), s.reply) << c.name << " at " << s.at;
          break;
        case TStep::skWrite:
          stats.Written(s.bytes, s.reply, s.at, s.end);
          break;
        case TStep::skRestart:
          stats.Restart();
          break;
      }
    }
    stats.CloseSession();
    std::ostringstream out;
    stats.Write(out, c.paced);
    EXPECT_EQ(out.str(),
              std::string("byte_ns 961538\npaced ") + (c.paced ? "1" : "0") + "\n" + c.figures)
        << c.name;
  }
}

}  // namespace
}  // namespace bootsim
