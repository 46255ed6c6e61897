// loader-cli's own logic: its command line, error texts and progress lines.
#include <gtest/gtest.h>

#include <sstream>

#include "cli_commands.h"
#include "cli_messages.h"
#include "cli_port_flash.h"
#include "cli_progress.h"
#include "cli_usage.h"
#include "serial/ser_comm.h"

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

// Short options with their values attached, bundled flags and --opt=value, as getopt_long.
TEST(CommandLine, GetoptForms) {
  struct {
    std::vector<std::string> args;
    std::vector<std::string> ports;
    TCommand::TVerbosity verbosity;
    std::chrono::seconds timeout;
  } cases[] = {
      {{"flash", "-pCOM3", "a.hex"}, {"COM3"}, TCommand::TVerbosity::vbNormal, 30s},
      {{"flash", "-p/dev/ttyUSB0", "-pCOM3", "a.hex"},
       {"/dev/ttyUSB0", "COM3"},
       TCommand::TVerbosity::vbNormal,
       30s},
      {{"flash", "-qpCOM3", "--timeout=0", "a.hex"}, {"COM3"}, TCommand::TVerbosity::vbQuiet, 0s},
      {{"flash", "-vp", "x", "--timeout", "7", "a.hex"},
       {"x"},
       TCommand::TVerbosity::vbVerbose,
       7s},
      {{"flash", "--port=a=b", "a.hex"}, {"a=b"}, TCommand::TVerbosity::vbNormal, 30s},
  };
  for (const auto& c : cases) {
    const TCommand cmd = ParseCommandLine(c.args);
    EXPECT_EQ(cmd.ports, c.ports) << c.args[1];
    EXPECT_EQ(cmd.verbosity, c.verbosity) << c.args[1];
    EXPECT_EQ(cmd.timeout, c.timeout) << c.args[1];
    EXPECT_EQ(cmd.file, "a.hex");
  }
  EXPECT_EQ(ParseCommandLine({"convert", "-oout", "a.hex"}).outputFolder, "out");
  EXPECT_EQ(ParseCommandLine({"convert", "--output=out", "a.hex"}).outputFolder, "out");
  EXPECT_EQ(ParseCommandLine({"convert", "--", "-p"}).file, "-p");
  EXPECT_EQ(ParseCommandLine({"convert", "-"}).file, "-");
}

// The one line misuse prints; it names the option as the user wrote it.
TEST(CommandLine, MisuseTexts) {
  struct {
    std::vector<std::string> args;
    std::string text;
  } cases[] = {
      {{"flash", "-x", "a.hex"}, "flash has no option '-x'"},
      {{"flash", "-qx", "a.hex"}, "flash has no option '-x'"},
      {{"flash", "--speed=9600", "a.hex"}, "flash has no option '--speed'"},
      {{"flash", "-p", "A", "-o", "d", "a.hex"}, "flash has no option '-o'"},
      {{"ports", "--long=yes"}, "--long takes no value"},
      {{"flash", "a.hex", "-p"}, "-p needs PORT"},
      {{"flash", "a.hex", "--trace"}, "--trace needs FILE"},
      {{"flash", "-p", "", "a.hex"}, "-p needs a port name"},
      {{"flash", "--port=", "a.hex"}, "--port needs a port name"},
      {{"flash", "a.hex"}, "flash needs -p PORT"},
      {{"burn"}, "unknown command 'burn'"},
  };
  for (const auto& c : cases) {
    try {
      ParseCommandLine(c.args);
      ADD_FAILURE() << c.text;
    } catch (const EUsageError& e) {
      EXPECT_EQ(e.what(), c.text);
    }
  }
}

// Each command's help lists its own options, each once, and its usage line is the one
// misuse prints; the whole help lists every option.
TEST(Usage, EachCommandListsItsOwnOptions) {
  for (const std::string command : {"convert", "flash", "ports", ""}) {
    SCOPED_TRACE(command);
    const std::string help = UsageText(command);
    EXPECT_EQ(help.rfind(UsageLines(command), 0), 0u);
    const std::string options = help.substr(help.find("\noptions"));
    for (const TOptionSpec& o : Options()) {
      const std::string line = std::string("--") + o.longName +
                               (o.argument != nullptr ? std::string("=") + o.argument : "") + " ";
      bool own = command.empty();
      for (const TOptionSpec& same : Options()) {
        own = own || (same.longName == std::string(o.longName) &&
                      (same.commands & CommandBit(command)) != 0);
      }
      const auto at = options.find(line);
      EXPECT_EQ(at != std::string::npos, own) << line;
      if (at != std::string::npos) {
        EXPECT_EQ(options.find(line, at + 1), std::string::npos) << line;
      }
    }
    EXPECT_EQ(help.find("exit status:") != std::string::npos, command != "ports");
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 80u) << line;
  }
  EXPECT_EQ(UsageLines("flash"),
            "usage: loader-cli flash -p PORT [-p PORT...] [OPTION...] FILE.hex\n");
  const std::string all = UsageLines("");
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);
}

TEST(Messages, WrongReplySaysWhatCameInstead) {
  struct {
    engine::TStopDetail stop;
    std::string text;
  } cases[] = {
      {{engine::tsAwaitBlockSum, 3, 0x0180, 0x5A, true, 0x12},
       "Ошибка ответа: block 3 (0x0180), expected 0x5A, received 0x12"},
      {{engine::tsAwaitPageAck, -1, 0x0200, 0xAA, true, 0x00},
       "Ошибка ответа: page command 0x0200, expected 0xAA, received 0x00"},
      {{engine::tsAwaitHandshakeAck, -1, 0, 0xAA, true, 0xFF},
       "Ошибка ответа: handshake, expected 0xAA, received 0xFF"},
      {{engine::tsAwaitBlockSum, 511, 0xFF80, 0x01, false, 0}, "Ошибка ответа: block 511 (0xFF80)"},
      {{}, "Ошибка ответа"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplyErrorText(c.stop), c.text);
}

TEST(Messages, PortErrorsNameThePort) {
  EXPECT_EQ(PortErrorText("COM9", serial::ESerDeviceNotFound("Specified device not found (COM9).")),
            "COM9: Specified device not found (COM9). (see `loader-cli ports`)");
  EXPECT_EQ(PortErrorText("ttyS0", serial::ESerCommError("Can't open specified device ttyS0")),
            "ttyS0: Can't open specified device ttyS0.");
}

TEST(Ports, LongListingLinesUpItsColumns) {
  EXPECT_EQ(PortTable({}), "");
  EXPECT_EQ(PortTable({{"COM3", ""}, {"COM10", ""}}), "COM3\nCOM10\n");
  EXPECT_EQ(PortTable({{"COM3", "USB Serial Port (COM3)"}, {"bootsim10", "simulated"}}),
            "COM3       USB Serial Port (COM3)\n"
            "bootsim10  simulated\n");
}

TEST(Ports, NoPortIsSaidOnStandardError) {
  for (const bool json : {false, true}) {
    std::ostringstream out, err;
    EXPECT_EQ(ListPorts({}, out, err, json), kExitOk);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "loader-cli: no serial ports found\n");
  }
  std::ostringstream out, err;
  ListPorts({{"COM3", "a \"b\""}}, out, err, true);
  EXPECT_EQ(out.str(), "{\"port\":\"COM3\",\"description\":\"a \\\"b\\\"\"}\n");
  EXPECT_EQ(err.str(), "");
}

// The engine resets the count before it hides the progress on a stop; the console keeps
// where it stopped. The prompt is a message on standard error, and -q silences it.
TEST(Controls, StopKeepsTheLastStateAndQuietHidesThePrompt) {
  for (const bool quiet : {false, true}) {
    std::ostringstream err;
    TConsoleProgress progress(err, false);
    detail::TCliControls controls(err, progress);
    controls.SetQuiet(quiet);
    controls.SetPromptVisible(true);
    controls.SetTotalParts(20);
    controls.SetProgressVisible(true);
    for (std::uint32_t i = 1; i <= 7; ++i) controls.SetPartsComplete(i);
    controls.SetPartsComplete(0);
    controls.SetProgressVisible(false);
    progress.KeepLine();
    const std::string text = err.str();
    EXPECT_EQ(text.find(kPowerOnPrompt) != std::string::npos, !quiet) << text;
    if (!quiet) {
      EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1, 23), " 35% | block 7 of 21 | ");
    }
    EXPECT_EQ(controls.PeakParts(), 7u);
  }
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
  // 0 %, 10 %, ... 100 %, and the closing block's line: piped output ends with the last state.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12);
  EXPECT_NE(text.find("100% | block 101 of 101"), std::string::npos) << text;
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
  EXPECT_NE(text.rfind("\r100% | block 5 of 5"), std::string::npos);
  // Hidden, the line stays until the next message says whether to keep it.
  p.ClearLine();
  EXPECT_EQ(out.str().back(), '\r');
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

// Without the cursor sequences the ports share one line, redrawn with \r alone and cut
// before it wraps.
TEST(Progress, BoardWithoutSequencesRedrawsOneLine) {
  std::ostringstream out;
  TProgressBoard board(out, 2, false);
  board.Set(0, "[A] 10%");
  board.Set(1, "[B] 20%");
  board.Clear();
  board.Redraw();
  board.Set(0, std::string(100, 'x'));
  EXPECT_EQ(out.str(),
            "\r[A] 10%  "
            "\r         \r\r[A] 10%  [B] 20%"
            "\r                \r"
            "\r[A] 10%  [B] 20%"
            "\r                \r\r" +
                std::string(79, 'x'));
  EXPECT_EQ(out.str().find('\x1b'), std::string::npos);
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
  TFlashResult r{"/dev/ttyUSB0", "a.hex", 600, 5, 1.25, "reply error", "Ошибка ответа", 2, {}};
  EXPECT_EQ(JsonResult(r),
            R"({"port":"/dev/ttyUSB0","file":"a.hex","image_bytes":600,"crc32":null,"blocks":5,)"
            R"("seconds":1.250,"outcome":"reply error","error":"Ошибка ответа","exit_code":2})");
  // Once converted, the CRC-32 as the window shows it.
  r.crc32 = 0x0A2B3C4D;
  EXPECT_NE(JsonResult(r).find(R"("crc32":"0x0A2B3C4D",)"), std::string::npos);
}

}  // namespace
}  // namespace cli
