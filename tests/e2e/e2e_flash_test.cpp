// loader-cli against bootsim: real processes on a real pseudo-terminal, the whole road from
// HEX file to the image the device received.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "platform/crc32.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kPrompt = "Включи питание\n";

std::vector<std::uint8_t> RandomImage(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> image(size);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  return image;
}

class FlashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ports_ = dir_.File("ports");
    ASSERT_EQ(setenv("LOADER_PORTS_DIR", ports_.c_str(), 1), 0);
    // The loader's private folders go here, where the tests can see them gone.
    std::filesystem::create_directory(dir_.File("tmp"));
    if (const char* old = std::getenv("TMPDIR")) oldTmp_ = old;
    ASSERT_EQ(setenv("TMPDIR", dir_.File("tmp").c_str(), 1), 0);
  }
  // The next test's own folder goes where the others do.
  void TearDown() override {
    if (oldTmp_) {
      setenv("TMPDIR", oldTmp_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

  // The prompt goes to standard error, which the child writes to a file.
  static bool WaitForPrompts(TChild& cli, int count) {
    for (int i = 0; i < 200; ++i) {
      const std::string errors = cli.Errors();
      int seen = 0;
      for (auto at = errors.find(kPrompt); at != std::string::npos;
           at = errors.find(kPrompt, at + 1)) {
        ++seen;
      }
      if (seen >= count) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

  // flash leaves no image in the current folder and no temporary folder behind.
  void ExpectNoFilesLeft() {
    EXPECT_TRUE(std::filesystem::is_empty(dir_.File("tmp")));
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
      const std::string ext = entry.path().extension().string();
      EXPECT_TRUE(ext != ".BIN" && ext != ".BAK") << entry.path();
    }
  }

  std::unique_ptr<TChild> StartSim(std::vector<std::string> args) {
    args.insert(args.begin(), BOOTSIM_PATH);
    auto sim = std::make_unique<TChild>(
        args, TSpawnOptions{dir_.Path().string(), true,
                            dir_.File("bootsim" + std::to_string(sims_++) + ".err")});
    path_ = sim->FirstLine(10s);
    EXPECT_EQ(path_.rfind("/dev/", 0), 0u) << "bootsim printed '" << path_ << "'\n"
                                           << sim->Errors();
    return sim;
  }

  std::unique_ptr<TChild> StartCli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {LOADER_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<TChild>(
        argv, TSpawnOptions{dir_.Path().string(), false, dir_.File("cli.err")});
  }

  std::string WriteHex(const std::string& name, const std::vector<std::uint8_t>& image) {
    WriteFile(dir_.File(name), IntelHex(image));
    return name;
  }

  // The device's copy: the image, then zeros up to the loader's closing short or empty block.
  void ExpectReceived(const std::vector<std::uint8_t>& image) {
    const std::vector<std::uint8_t> got = ReadBytes(dir_.File("out.bin"));
    ASSERT_EQ(got.size(), (image.size() / 128 + 1) * 128);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(image.size()), got.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }

  TTempDir dir_;
  std::string ports_;
  std::optional<std::string> oldTmp_;
  std::string path_;
  int sims_ = 0;
};

struct TFlashCase {
  const char* name;
  std::size_t size;
  std::vector<std::string> simArgs;
  int timeout;
  int exitCode;
  const char* errorText;  // expected in loader-cli's standard error
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TFlashCase& c, std::ostream* os) {
  *os << c.name;
}

class FlashCaseTest : public FlashTest, public ::testing::WithParamInterface<TFlashCase> {};

TEST_P(FlashCaseTest, FlashesAgainstTheSimulator) {
  const TFlashCase& c = GetParam();
  std::vector<std::string> simArgs = {"--once", "--out", "out.bin"};
  simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
  auto sim = StartSim(simArgs);
  const std::vector<std::uint8_t> image = RandomImage(c.size, static_cast<unsigned>(c.size));
  const std::string hex = WriteHex("image.hex", image);

  std::vector<std::string> args = {
      "flash", "--port", "bootsim0", "--timeout", std::to_string(c.timeout), hex};
  if (image.empty()) args.insert(args.begin() + 1, "--allow-empty");
  auto cli = StartCli(args);
  ASSERT_TRUE(WaitForPrompts(*cli, 1)) << cli->Errors();
  sim->WriteStdin("p");  // power on

  EXPECT_EQ(cli->Wait(60s), c.exitCode) << cli->Errors() << sim->Errors();
  EXPECT_EQ(cli->Output(), "");
  EXPECT_NE(cli->Errors().find(c.errorText), std::string::npos) << cli->Errors();
  ExpectNoFilesLeft();

  if (c.exitCode == 0) {
    // --once: the simulator leaves by itself once the loader has closed the port.
    EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
    ExpectReceived(image);
  } else {
    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
  }
  EXPECT_EQ(sim->Errors().find("violation"), std::string::npos) << sim->Errors();
}

INSTANTIATE_TEST_SUITE_P(
    Images, FlashCaseTest,
    ::testing::Values(
        TFlashCase{"Empty", 0, {}, 10, 0, "done, 1 block in"},
        TFlashCase{"Bytes600", 600, {}, 10, 0, "done, 5 blocks"},
        TFlashCase{"ExactMultipleOf128", 1024, {}, 10, 0, "done, 9 blocks"},
        TFlashCase{"AddressWrap70KiB", 70 * 1024, {}, 10, 0, "done, 561 blocks"},
        TFlashCase{"NoiseBeforeAnnouncement", 600, {"--noise", "9"}, 10, 0, "done"},
        TFlashCase{"AnnouncementInABurst", 600, {"--announce-burst", "3"}, 10, 0, "done"},
        TFlashCase{"EchoAndReplySplit", 600, {"--split"}, 10, 0, "done"},
        TFlashCase{"DelayedReplies", 600, {"--delay", "15"}, 10, 0, "done"},
        TFlashCase{"PacedLine", 100, {"--pace"}, 10, 0, "done, 1 block in"},
        TFlashCase{"WrongSum",
                   600,
                   {"--wrong-sum-at", "2"},
                   10,
                   2,
                   "loader-cli: bootsim0: Ошибка ответа: block 2 (0x0100), expected 0x"},
        TFlashCase{"WrongHandshakeReply",
                   600,
                   {"--wrong-handshake-reply"},
                   10,
                   2,
                   "loader-cli: bootsim0: Ошибка ответа: handshake, expected 0xAA, received 0x"},
        TFlashCase{"SilentAfterBlock",
                   600,
                   {"--silent-after", "1"},
                   1,
                   3,
                   "no reply on bootsim0 within 1 s; waiting for the sum"}),
    [](const ::testing::TestParamInfo<TFlashCase>& info) { return std::string(info.param.name); });

TEST_F(FlashTest, PowerOnBySignalAndPortGivenAsPath) {
  auto sim = StartSim({"--once", "--out", "out.bin", "--no-publish"});
  const std::vector<std::uint8_t> image = RandomImage(300, 7);
  auto cli = StartCli({"flash", "--port=" + path_, WriteHex("x.hex", image)});
  ASSERT_TRUE(WaitForPrompts(*cli, 1)) << cli->Errors();
  sim->Signal(SIGUSR1);
  EXPECT_EQ(cli->Wait(30s), 0) << cli->Errors();
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
  ExpectReceived(image);
  EXPECT_FALSE(std::filesystem::exists(ports_ + "/bootsim0"));
}

// Four devices from one process; the third answers a block with a wrong sum. The others
// must not notice: each receives its whole image.
TEST_F(FlashTest, SeveralPortsAtOnceOneFailing) {
  std::vector<std::unique_ptr<TChild>> sims;
  std::vector<std::string> paths;
  std::vector<std::string> args = {"flash", "--timeout", "10"};
  for (int i = 0; i < 4; ++i) {
    std::vector<std::string> simArgs = {"--once", "--no-publish", "--out",
                                        "out" + std::to_string(i) + ".bin"};
    if (i == 2) simArgs.insert(simArgs.end(), {"--wrong-sum-at", "3"});
    sims.push_back(StartSim(simArgs));
    paths.push_back(path_);
    args.insert(args.end(), {i % 2 ? "-p" : "--port", path_});
  }
  const std::vector<std::uint8_t> image = RandomImage(1000, 3);
  args.push_back(WriteHex("m.hex", image));
  auto cli = StartCli(args);
  ASSERT_TRUE(WaitForPrompts(*cli, 4)) << cli->Errors();
  for (auto& sim : sims) sim->Signal(SIGUSR1);

  EXPECT_EQ(cli->Wait(60s), 2) << cli->Errors();
  const std::string errors = cli->Errors();
  for (int i = 0; i < 4; ++i) {
    const bool fails = i == 2;
    SCOPED_TRACE(paths[static_cast<std::size_t>(i)]);
    // The summary table: the port, its outcome and the blocks it got through. The columns
    // are as wide as the longest port name, which differs between runs (/dev/pts/9, /10).
    const std::regex row("\n" + paths[static_cast<std::size_t>(i)] + " +" +
                         (fails ? "reply error +4 " : "done +8 "));
    EXPECT_TRUE(std::regex_search(errors, row)) << errors;
    if (fails) {
      sims[2]->Signal(SIGTERM);
    } else {
      const std::vector<std::uint8_t> got =
          ReadBytes(dir_.File("out" + std::to_string(i) + ".bin"));
      EXPECT_EQ(got.size(), 1024u);
      EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
    }
    EXPECT_EQ(sims[static_cast<std::size_t>(i)]->Wait(20s), 0);
  }
  EXPECT_NE(
      errors.find("\nloader-cli: " + paths[2] + ": Ошибка ответа: block 3 (0x0180), expected"),
      std::string::npos)
      << errors;
}

// --repeat: after each board the loader waits for the next one on the same port; Ctrl-C
// between boards ends it cleanly, with one result per board.
TEST_F(FlashTest, RepeatFlashesBoardAfterBoard) {
  auto sim = StartSim({"--keep-going", "--out", "out.bin"});
  const std::vector<std::uint8_t> image = RandomImage(500, 5);
  auto cli = StartCli({"flash", "--repeat", "--json", "--timeout", "1", "-p", "bootsim0",
                       WriteHex("r.hex", image)});
  for (int board = 1; board <= 2; ++board) {
    ASSERT_TRUE(WaitForPrompts(*cli, board)) << cli->Errors();
    sim->WriteStdin("p");
  }
  // The third prompt: both boards are done and the loader waits, past its --timeout.
  ASSERT_TRUE(WaitForPrompts(*cli, 3)) << cli->Errors();
  std::this_thread::sleep_for(1500ms);
  cli->Signal(SIGINT);
  EXPECT_EQ(cli->Wait(30s), 0) << cli->Errors();
  const std::string errors = cli->Errors();
  EXPECT_NE(errors.find("done, 4 blocks in"), std::string::npos) << errors;
  EXPECT_NE(errors.find("; boards done: 2\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find("port bootsim0 closed after 2 boards done"), std::string::npos) << errors;
  const std::string row = R"("outcome":"done","error":"","exit_code":0})";
  const std::string& out = cli->Output();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
  EXPECT_NE(out.find(row + "\n"), out.rfind(row + "\n")) << out;
  ExpectReceived(image);
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
}

TEST_F(FlashTest, KeepGoingServesOneLoaderAfterAnother) {
  auto sim = StartSim({"--keep-going", "--out", "out.bin"});
  for (unsigned round = 0; round < 2; ++round) {
    const std::vector<std::uint8_t> image = RandomImage(400 + round * 300, round);
    auto cli = StartCli({"flash", "--port", "bootsim0", WriteHex("r.hex", image)});
    ASSERT_TRUE(WaitForPrompts(*cli, 1)) << cli->Errors();
    sim->WriteStdin("p");
    EXPECT_EQ(cli->Wait(30s), 0) << round << cli->Errors() << sim->Errors();
    ExpectReceived(image);  // the latest transfer's blocks
  }
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
}

TEST_F(FlashTest, RepeatedAnnouncementsStartTheTransfer) {
  // A long period keeps a second announcement out of the way of the first's handshake.
  auto sim = StartSim({"--once", "--out", "out.bin", "--announce-every", "400"});
  const std::vector<std::uint8_t> image = RandomImage(200, 8);
  auto cli = StartCli({"flash", "--port", "bootsim0", WriteHex("y.hex", image)});
  EXPECT_EQ(cli->Wait(30s), 0) << cli->Errors();
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
  ExpectReceived(image);
}

TEST_F(FlashTest, DeviceNeverSwitchedOnTimesOut) {
  auto sim = StartSim({});
  auto cli = StartCli({"flash", "--port", "bootsim0", "--timeout", "1", WriteHex("z.hex", {1, 2})});
  EXPECT_EQ(cli->Wait(30s), 3);
  EXPECT_NE(cli->Errors().find(
                "no reply on bootsim0 within 1 s; waiting for the device's announcement 0x55"),
            std::string::npos)
      << cli->Errors();
}

TEST_F(FlashTest, InterruptClosesThePort) {
  auto sim = StartSim({});
  auto cli = StartCli({"flash", "--port", "bootsim0", "--timeout", "0", WriteHex("z.hex", {1})});
  ASSERT_TRUE(WaitForPrompts(*cli, 1)) << cli->Errors();
  cli->Signal(SIGINT);
  EXPECT_EQ(cli->Wait(30s), 130);
  EXPECT_NE(cli->Errors().find("interrupted"), std::string::npos) << cli->Errors();
  // The port is free again: a second loader gets through to the device.
  const std::vector<std::uint8_t> image = RandomImage(130, 9);
  auto again = StartCli({"flash", "--port", "bootsim0", WriteHex("w.hex", image)});
  ASSERT_TRUE(WaitForPrompts(*again, 1)) << again->Errors();
  sim->WriteStdin("p");
  EXPECT_EQ(again->Wait(30s), 0) << again->Errors() << sim->Errors();
}

// --json: one object a line on standard output, one per port, whatever became of it; the
// prompt and the rest go to standard error.
TEST_F(FlashTest, JsonResultsForEachPort) {
  auto sim = StartSim({"--once", "--out", "out.bin", "--announce-every", "400"});
  auto cli = StartCli({"flash", "--json", "-p", "bootsim0", "-p", "nosuchport",
                       WriteHex("j.hex", RandomImage(300, 9))});
  EXPECT_EQ(cli->Wait(30s), 1) << cli->Errors();
  EXPECT_NE(cli->Errors().find(kPrompt), std::string::npos) << cli->Errors();
  std::map<std::string, std::string> byPort;
  std::istringstream lines(cli->Output());
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(line.front() == '{' && line.back() == '}') << line;
    const auto at = line.find(R"("port":")") + 8;
    byPort[line.substr(at, line.find('"', at) - at)] = line;
  }
  ASSERT_EQ(byPort.size(), 2u) << cli->Output();
  for (const char* field : {R"("file":"j.hex")", R"("image_bytes":300,)", R"("blocks":3,)",
                            R"("outcome":"done")", R"("error":"")", R"("exit_code":0})"}) {
    EXPECT_NE(byPort["bootsim0"].find(field), std::string::npos) << byPort["bootsim0"];
  }
  for (
      const char* field :
      {R"("outcome":"failed")",
       R"x("error":"nosuchport: Specified device not found (nosuchport). (see `loader-cli ports`)")x",
       R"("exit_code":1})"}) {
    EXPECT_NE(byPort["nosuchport"].find(field), std::string::npos) << byPort["nosuchport"];
  }
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
}

TEST_F(FlashTest, QuietAndVerbose) {
  const struct {
    const char* option;
    std::vector<std::string> shown;
    std::vector<std::string> hidden;
  } cases[] = {
      {"-q", {"loader-cli: done, 5 blocks"}, {"flashing", "% | block", " sent ", kPrompt}},
      {"-v",
       {"loader-cli: flashing v.hex (600 bytes, 5 blocks) on bootsim0\n",
        " bootsim0 sent 55 33 CC\n", " bootsim0 reply AA\n", "% | block",
        "loader-cli: done, 5 blocks"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    auto sim = StartSim({"--once", "--announce-every", "400"});
    auto cli =
        StartCli({"flash", c.option, "-p", "bootsim0", WriteHex("v.hex", RandomImage(600, 2))});
    EXPECT_EQ(cli->Wait(30s), 0) << cli->Errors();
    EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
    for (const std::string& text : c.shown) {
      EXPECT_NE(cli->Errors().find(text), std::string::npos) << text << " in\n" << cli->Errors();
    }
    for (const std::string& text : c.hidden) {
      EXPECT_EQ(cli->Errors().find(text), std::string::npos) << text << " in\n" << cli->Errors();
    }
  }
}

// Each byte as the loader took it: the announcement it answered, repeats read with it
// ignored, then the handshake's echo and the reply.
TEST_F(FlashTest, TraceHoldsTheHandshake) {
  auto sim =
      StartSim({"--once", "--out", "out.bin", "--announce-every", "400", "--announce-burst", "3"});
  auto cli = StartCli(
      {"flash", "-p", "bootsim0", "--trace", "t.txt", WriteHex("t.hex", RandomImage(10, 1))});
  EXPECT_EQ(cli->Wait(30s), 0) << cli->Errors();
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
  const std::string trace = ReadFile(dir_.File("t.txt"));
  // The handshake's echo may be read in pieces.
  std::size_t at = 0;
  for (const char* step :
       {" bootsim0 reply 55\n", " bootsim0 sent 55 33 CC\n", " bootsim0 ignored 55 55\n",
        " bootsim0 echo 55", " bootsim0 reply AA\n"}) {
    at = trace.find(step, at);
    ASSERT_NE(at, std::string::npos) << step << " in\n" << trace;
  }
}

TEST_F(FlashTest, TraceFileThatCannotBeWritten) {
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {"no/such/dir/t.txt", "loader-cli: Cannot open file \"" + dir_.File("no/such/dir/t.txt") +
                                "\". No such file or directory.\n"},
      {"/dev/full", "loader-cli: Cannot write file \"/dev/full\". No space left on device.\n"},
  };
  for (const auto& c : cases) {
    auto cli = StartCli({"flash", "-p", "nosuchport", "--trace", c.path, WriteHex("f.hex", {1})});
    EXPECT_EQ(cli->Wait(30s), 1);
    EXPECT_EQ(cli->Errors(), c.error);
  }
}

TEST_F(FlashTest, MissingPort) {
  auto cli = StartCli({"flash", "--port", "nosuchport", WriteHex("m.hex", {1, 2, 3})});
  EXPECT_EQ(cli->Wait(30s), 1);
  EXPECT_EQ(cli->Errors(),
            "loader-cli: flashing m.hex (3 bytes, 1 block) on nosuchport\n"
            "loader-cli: nosuchport: Specified device not found (nosuchport). (see `loader-cli "
            "ports`)\n");
  EXPECT_EQ(cli->Output(), "");
}

TEST_F(FlashTest, MissingHexFile) {
  auto cli = StartCli({"flash", "--port", "nosuchport", "absent.hex"});
  EXPECT_EQ(cli->Wait(30s), 1);
  EXPECT_EQ(cli->Errors(), "loader-cli: Cannot open file \"" + dir_.Path().string() +
                               "/absent.hex\". No such file or directory.\n");
}

TEST_F(FlashTest, ConversionErrorStopsBeforeThePort) {
  WriteFile(dir_.File("bad.hex"), ":020000001122CB\n:0X00000033CC\n");
  auto cli = StartCli({"flash", "--port", "nosuchport", "bad.hex"});
  EXPECT_EQ(cli->Wait(30s), 1);
  EXPECT_NE(cli->Errors().find("is not a valid integer value."), std::string::npos)
      << cli->Errors();
  EXPECT_EQ(cli->Errors().find("Specified device"), std::string::npos);
}

TEST_F(FlashTest, CorruptedHexFileNeverReachesTheDevice) {
  auto sim = StartSim({"--stats", "stats.txt", "--announce-every", "50"});
  std::string hex = IntelHex(RandomImage(600, 3));
  const std::size_t checksumAt = hex.find('\r') - 2;  // the first record's
  hex.replace(checksumAt, 2, hex.compare(checksumAt, 2, "00") == 0 ? "01" : "00");
  WriteFile(dir_.File("bad.hex"), hex);
  auto cli = StartCli({"flash", "--port", "bootsim0", "bad.hex"});
  EXPECT_EQ(cli->Wait(30s), 1);
  EXPECT_EQ(cli->Output(), "");  // no prompt: the port was never opened
  EXPECT_NE(cli->Errors().find("bad.hex:1: checksum 0x"), std::string::npos) << cli->Errors();
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
  EXPECT_NE(testsupport::ReadFile(dir_.File("stats.txt")).find("line_bytes 0\n"),
            std::string::npos);
}

// A dry run opens the port and closes it again: a wrong port shows before a board is
// connected, and the device gets nothing.
TEST_F(FlashTest, DryRunOpensThePortAndSendsNothing) {
  auto sim = StartSim({"--stats", "stats.txt"});
  const std::vector<std::uint8_t> image = RandomImage(600, 4);
  const std::string hex = WriteHex("d.hex", image);
  auto wrong = StartCli({"flash", "-p", "bootsim0", "-p", "nosuchport", "--dry-run", hex});
  EXPECT_EQ(wrong->Wait(30s), 1);
  EXPECT_EQ(wrong->Errors(),
            "loader-cli: nosuchport: Specified device not found (nosuchport). (see `loader-cli "
            "ports`)\n");
  EXPECT_EQ(wrong->Output(), "");
  auto cli = StartCli({"flash", "--port", "bootsim0", "--dry-run", hex});
  EXPECT_EQ(cli->Wait(30s), 0) << cli->Errors();
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->Wait(20s), 0) << sim->Errors();
  EXPECT_NE(ReadFile(dir_.File("stats.txt")).find("line_bytes 0\n"), std::string::npos);
  char crc[32];
  std::snprintf(crc, sizeof crc, "0x%08X",
                static_cast<unsigned>(platform::Crc32(0, image.data(), image.size())));
  EXPECT_EQ(cli->Output(),
            "dry run: nothing sent (each port opened and closed)\n"
            "port:          bootsim0\n"
            "image:         d.BIN, 600 bytes, CRC-32 " +
                std::string(crc) +
                "\n"
                "data blocks:   5 of 128 bytes, the last one short or empty\n"
                "page commands: 2\n");
  ExpectNoFilesLeft();
}

// An empty, zeroed or blank file, or one with no data record, would put a block of zeros
// into the device.
TEST_F(FlashTest, FileWithoutDataIsRefused) {
  const std::string contents[] = {"", std::string(4, '\0'), "\n\n", ":00000001FF\n"};
  for (const std::string option : {"--timeout=1", "--dry-run"}) {
    for (const std::string& content : contents) {
      WriteFile(dir_.File("e.hex"), content);
      auto cli = StartCli({"flash", option, "-p", "nosuchport", "e.hex"});
      EXPECT_EQ(cli->Wait(30s), 1) << content;
      EXPECT_EQ(
          cli->Errors(),
          "loader-cli: e.hex: no data record; the image is empty (--allow-empty writes a block of "
          "zeros)\n")
          << content;
      EXPECT_EQ(cli->Output(), "");
    }
  }
  ExpectNoFilesLeft();
}

TEST_F(FlashTest, SimulatorReportsProtocolViolations) {
  auto sim = StartSim({"--once"});
  const int fd = open(path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  cfmakeraw(&t);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  sim->WriteStdin("p");
  auto readExactly = [fd](std::size_t n) {
    std::string got;
    char buf[256];
    while (got.size() < n) {
      const ssize_t r = read(fd, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  };
  EXPECT_EQ(readExactly(1), "\x55");
  ASSERT_EQ(write(fd, "\x55\x33\xCC", 3), 3);
  EXPECT_EQ(readExactly(4), "\x55\x33\xCC\xAA");
  // A data block without the page command that must open block 0.
  std::string block = std::string("\x22\x00\x00", 3) + std::string(128, '\x01');
  ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  EXPECT_EQ(readExactly(block.size()), block);  // echo, but no answer
  close(fd);
  EXPECT_EQ(sim->Wait(20s), 1);
  EXPECT_NE(sim->Errors().find("protocol violation: block 0 without a page command"),
            std::string::npos)
      << sim->Errors();
}

TEST_F(FlashTest, PortsListsPublishedSimulators) {
  auto first = StartSim({});
  auto named = StartSim({"--publish-name", "Board"});
  auto ports = StartCli({"ports"});
  EXPECT_EQ(ports->Wait(30s), 0);
  const std::string listed = ports->Output();
  EXPECT_NE(listed.find("bootsim0\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("Board\n"), std::string::npos) << listed;
  // Sorted without regard to case.
  EXPECT_LT(listed.find("Board\n"), listed.find("bootsim0\n")) << listed;

  named->Signal(SIGTERM);
  EXPECT_EQ(named->Wait(20s), 0);
  EXPECT_FALSE(std::filesystem::exists(ports_ + "/Board"));
  auto after = StartCli({"ports"});
  EXPECT_EQ(after->Wait(30s), 0);
  EXPECT_EQ(after->Output().find("Board\n"), std::string::npos) << after->Output();
  EXPECT_NE(after->Output().find("bootsim0\n"), std::string::npos) << after->Output();
}

TEST_F(FlashTest, LongPortListingSaysWhichTerminalASimulatorGives) {
  auto sim = StartSim({});
  auto ports = StartCli({"ports", "--long"});
  EXPECT_EQ(ports->Wait(30s), 0);
  const std::string listed = ports->Output();
  // A column of names, then the descriptions lined up after two spaces at least.
  const auto row = listed.find("bootsim0  ");
  ASSERT_NE(row, std::string::npos) << listed;
  const auto description = listed.find_first_not_of(' ', row + 8);
  EXPECT_EQ(listed.substr(description, listed.find('\n', description) - description),
            "simulated device (bootsim) on " + path_)
      << listed;
  auto json = StartCli({"ports", "--json"});
  EXPECT_EQ(json->Wait(30s), 0);
  EXPECT_NE(json->Output().find("{\"port\":\"bootsim0\",\"description\":\"simulated device "
                                "(bootsim) on " +
                                path_ + "\"}\n"),
            std::string::npos)
      << json->Output();
}

TEST_F(FlashTest, SecondSimulatorTakesTheNextName) {
  auto a = StartSim({});
  auto b = StartSim({});
  EXPECT_TRUE(std::filesystem::is_symlink(ports_ + "/bootsim0"));
  EXPECT_EQ(std::filesystem::read_symlink(ports_ + "/bootsim1").string(), path_);
}

}  // namespace
}  // namespace e2e
