// loader-cli's own logic: its command line, error texts and progress lines.
#include <gtest/gtest.h>

#include <sstream>

#include "cli_commands.h"
#include "cli_progress.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

TEST(CommandLine, FlashForms) {
  struct {
    std::vector<std::string> args;
    std::string port;
    std::chrono::seconds timeout;
  } cases[] = {
      {{"flash", "--port", "COM3", "a.hex"}, "COM3", 30s},
      {{"flash", "a.hex", "--port=bootsim0", "--timeout", "0"}, "bootsim0", 0s},
      {{"flash", "--timeout=5", "--port", "/dev/pts/3", "--", "a.hex"}, "/dev/pts/3", 5s},
  };
  for (const auto& c : cases) {
    const TCommand cmd = ParseCommandLine(c.args);
    EXPECT_EQ(cmd.kind, TCommand::TKind::ckFlash);
    EXPECT_EQ(cmd.ports, std::vector<std::string>{c.port});
    EXPECT_EQ(cmd.timeout, c.timeout);
    EXPECT_EQ(cmd.file, "a.hex");
  }
  EXPECT_EQ(ParseCommandLine({"flash", "--port", "p", "--", "-odd.hex"}).file, "-odd.hex");
  // Several ports, in the order given, whichever form names them.
  EXPECT_EQ(ParseCommandLine({"flash", "-p", "A", "--port=B", "--port", "C", "a.hex"}).ports,
            (std::vector<std::string>{"A", "B", "C"}));
}

TEST(CommandLine, OtherCommands) {
  EXPECT_EQ(ParseCommandLine({"convert", "x.hex"}).kind, TCommand::TKind::ckConvert);
  EXPECT_EQ(ParseCommandLine({"ports"}).kind, TCommand::TKind::ckPorts);
  EXPECT_EQ(ParseCommandLine({"--help"}).kind, TCommand::TKind::ckHelp);
}

TEST(CommandLine, Rejects) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"flash", "--port", "", "a.hex"},
      {"flash", "--port", "p", "--timeout", "86401", "a.hex"},
      {"flash", "--port", "p", "--timeout", "", "a.hex"},
      {"flash", "--port", "p"},
      {"flash", "-p", "A", "-p", "B", "-p", "A", "a.hex"},
      {"flash", "-p"},
      {"flash", "-p", "A", "--json", "--dry-run", "a.hex"},
      {"convert", "--json", "a.hex"},
      {"flash", "-p", "A", "--trace", "", "a.hex"},
      {"flash", "-p", "A", "--trace=t.txt", "--dry-run", "a.hex"},
      {"convert", "--trace", "t.txt", "a.hex"},
      {"flash", "-p", "A", "-q", "-v", "a.hex"},
      {"ports", "-v"},
      {"frobnicate", "--help"},
      {"flash", "-p", "A", "-o", "d", "a.hex"},
      {"convert", "-o", "", "a.hex"},
      {"convert", "--allow-empty", "a.hex"},
      {"flash", "-p", "A", "--repeat", "--dry-run", "a.hex"},
      {"ports", "--timeout", "3"},
      {"--version", "ports"},
      // The long listing belongs to ports alone and takes no value.
      {"convert", "-l", "x.hex"},
      {"flash", "--port", "p", "--long", "a.hex"},
      {"ports", "--long", "--port", "p"},
      {"ports", "--long=yes"},
      // Dry runs are flash's, record checks are the converter's; a dry run still needs a port.
      {"convert", "--dry-run", "x.hex"},
      {"ports", "--ignore-checksums"},
      {"ports", "--dry-run"},
      {"flash", "--dry-run", "a.hex"},
  };
  for (const auto& args : cases) EXPECT_THROW(ParseCommandLine(args), EUsageError);
}

TEST(CommandLine, LongListingBelongsToPorts) {
  EXPECT_FALSE(ParseCommandLine({"ports"}).longListing);
  EXPECT_TRUE(ParseCommandLine({"ports", "-l"}).longListing);
  EXPECT_TRUE(ParseCommandLine({"ports", "--long"}).longListing);
}

TEST(CommandLine, RecordChecksAndDryRun) {
  EXPECT_TRUE(ParseCommandLine({"convert", "x.hex"}).checkRecords);
  EXPECT_FALSE(ParseCommandLine({"convert", "--ignore-checksums", "x.hex"}).checkRecords);
  EXPECT_FALSE(ParseCommandLine({"flash", "--port", "p", "a.hex"}).dryRun);
  const TCommand flash =
      ParseCommandLine({"flash", "--dry-run", "--port", "p", "--ignore-checksums", "a.hex"});
  EXPECT_TRUE(flash.dryRun);
  EXPECT_FALSE(flash.checkRecords);
}

TEST(ErrorText, AppendsAFullStopAsTheWindowDoes) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},
               {"Ошибка", "Ошибка."},  // UTF-8 bytes sort above '.'
               {"Specified device not found (COM3).", "Specified device not found (COM3)."},
               {"Unable to write to x", "Unable to write to x."},
               {"ends with )", "ends with )"},
               {"ends with !", "ends with !"},
               {"ends with -", "ends with -"},
               {"ends with /", "ends with /."}};
  for (const auto& c : cases) EXPECT_EQ(ErrorText(c.in), c.out) << c.in;
}

TEST(Progress, Texts) {
  EXPECT_EQ(ProgressText(0, 4, -1s), "  0% | block 0 of 5 | --:-- left");
  EXPECT_EQ(ProgressText(2, 4, 75s), " 50% | block 2 of 5 | 1:15 left");
  EXPECT_EQ(ProgressText(5, 4, 0s), "100% | block 5 of 5 | 0:00 left");
  EXPECT_EQ(ProgressText(1, 0, 0s), "100% | block 1 of 1 | 0:00 left");
  EXPECT_EQ(ProgressText(1, 3, 0s), " 33% | block 1 of 4 | 0:00 left");
}

TEST(Progress, TimeLeft) {
  EXPECT_EQ(TimeLeft(0, 10, 5s), -1s);
  EXPECT_EQ(TimeLeft(1, 10, 2s), 18s);
  EXPECT_EQ(TimeLeft(10, 10, 9s), 0s);
  EXPECT_EQ(TimeLeft(11, 10, 9s), 0s);  // the closing block, beyond the total
}

TEST(Progress, PlainLinesEveryTenth) {
  std::ostringstream out;
  TConsoleProgress p(out, false);
  p.SetTotalParts(100);
  p.SetPartsComplete(0);
  p.SetVisible(true);
  for (std::uint32_t i = 1; i <= 101; ++i) p.SetPartsComplete(i);
  p.SetVisible(false);
  const std::string text = out.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);  // 0 %, 10 %, ... 100 %
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_NE(text.find(" 10% | block 10 of 101"), std::string::npos) << text;
  EXPECT_EQ(p.Blocks(), 101u);
}

TEST(Progress, TerminalRedrawsInPlaceAndClearsItsLine) {
  std::ostringstream out;
  TConsoleProgress p(out, true);
  p.SetTotalParts(4);
  p.SetVisible(true);
  for (std::uint32_t i = 1; i <= 5; ++i) p.SetPartsComplete(i);
  p.SetVisible(false);
  const std::string text = out.str();
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.front(), '\r');
  EXPECT_NE(text.find("\r 50% | block 2 of 5"), std::string::npos);
  // The last thing written wipes the line for what follows.
  EXPECT_EQ(text.back(), '\r');
}

TEST(Progress, BoardRedrawsEveryLineBelowTheMessages) {
  std::ostringstream out;
  TProgressBoard board(out, 2);
  board.Set(1, "b");
  board.Set(0, "a");
  board.Clear();
  board.Set(0, "c");
  // First drawing from where the cursor is; later ones go back up over both lines first.
  EXPECT_EQ(out.str(),
            "\x1b[2K\n\x1b[2Kb\n"
            "\x1b[2F\x1b[2Ka\n\x1b[2Kb\n"
            "\x1b[2F\x1b[J"
            "\x1b[2Kc\n\x1b[2Kb\n");
}

TEST(Json, StringsAreEscaped) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"", R"("")"},
      {"COM3", R"("COM3")"},
      {R"(C:\fw\"a".hex)", R"("C:\\fw\\\"a\".hex")"},
      {"line\nnext\tcol\r", R"("line\nnext\tcol\r")"},
      {std::string("\x01\x1f\0", 3), R"("\u0001\u001f\u0000")"},
      {"Ошибка ответа", R"("Ошибка ответа")"},
      // A file name's bytes that are not UTF-8: stray, cut, overlong, a surrogate.
      {"fw\xE9.hex", R"("fw\u00e9.hex")"},
      {"\xD0", R"("\u00d0")"},
      {"\xC0\xAF", R"("\u00c0\u00af")"},
      {"\xED\xA0\x80", R"("\u00ed\u00a0\u0080")"},
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(Json, ResultHasEveryField) {
  TFlashResult r{"/dev/ttyUSB0", "a.hex", 600, 5, 1.25, "reply error", "Ошибка ответа", 2};
  EXPECT_EQ(JsonResult(r),
            R"({"port":"/dev/ttyUSB0","file":"a.hex","image_bytes":600,"blocks":5,)"
            R"("seconds":1.250,"outcome":"reply error","error":"Ошибка ответа","exit_code":2})");
}

}  // namespace
}  // namespace cli
