// loader-cli's convert command and its command line, run as a program.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "child_process.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class CliTest : public ::testing::Test {
 protected:
  std::unique_ptr<TChild> Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {LOADER_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = std::make_unique<TChild>(
        argv, TSpawnOptions{dir_.Path().string(), false, dir_.File("err")});
    status_ = child->Wait(30s);
    return child;
  }
  TTempDir dir_;
  int status_ = -1;
};

TEST_F(CliTest, ConvertWritesTheImageAndPrintsItsName) {
  const std::vector<std::uint8_t> image = {0x10, 0x20, 0x30, 0xFF, 0x00, 0x7E};
  WriteFile(dir_.File("fw.hex"), IntelHex(image));
  auto cli = Run({"convert", "fw.hex"});
  EXPECT_EQ(status_, 0) << cli->Errors();
  EXPECT_EQ(cli->Output(), "fw.BIN\n");
  EXPECT_EQ(cli->Errors(), "");
  EXPECT_EQ(ReadBytes(dir_.File("fw.BIN")), image);

  // A second run keeps the first image as the backup.
  auto again = Run({"convert", "fw.hex"});
  EXPECT_EQ(status_, 0) << again->Errors();
  EXPECT_TRUE(std::filesystem::exists(dir_.File("fw.BAK")));
}

TEST_F(CliTest, ConvertIntoAnotherFolder) {
  std::filesystem::create_directory(dir_.File("out"));
  WriteFile(dir_.File("fw.hex"), IntelHex({1, 2, 3}));
  auto cli = Run({"convert", "-o", "out", "fw.hex"});
  EXPECT_EQ(status_, 0) << cli->Errors();
  EXPECT_EQ(cli->Output(), "out/fw.BIN\n");
  EXPECT_EQ(ReadBytes(dir_.File("out/fw.BIN")), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("fw.BIN")));

  for (const char* folder : {"nope", "fw.hex"}) {
    auto bad = Run({"convert", "--output", folder, "fw.hex"});
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(bad->Errors(),
              std::string("loader-cli: Cannot open folder \"") + folder + "\". " +
                  (folder[0] == 'n' ? "No such file or directory" : "Not a directory") + ".\n");
  }
}

TEST_F(CliTest, ConvertTakesAPathAndWritesIntoTheCurrentFolder) {
  std::filesystem::create_directory(dir_.File("sub"));
  WriteFile(dir_.File("sub/a.hex"), IntelHex({1, 2, 3}));
  auto cli = Run({"convert", dir_.File("sub/a.hex")});
  EXPECT_EQ(status_, 0) << cli->Errors();
  EXPECT_EQ(cli->Output(), "a.BIN\n");
  EXPECT_TRUE(std::filesystem::exists(dir_.File("a.BIN")));
}

TEST_F(CliTest, ConvertReportsTheConvertersError) {
  WriteFile(dir_.File("bad.hex"), ":020000001122CB\n:0X00000033CC\n");
  auto cli = Run({"convert", "bad.hex"});
  EXPECT_EQ(status_, 1);
  EXPECT_EQ(cli->Output(), "");
  EXPECT_EQ(cli->Errors(), "loader-cli: bad.hex:2: '$0X' is not a valid integer value.\n");
}

TEST_F(CliTest, ConvertRefusesAWrongChecksumUnlessIgnored) {
  WriteFile(dir_.File("fw.hex"), ":0100000011EE\n:0100010022DD\n");
  auto cli = Run({"convert", "fw.hex"});
  EXPECT_EQ(status_, 1);
  EXPECT_EQ(cli->Errors(), "loader-cli: fw.hex:2: checksum 0xDD, the record sums to 0xDC.\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("fw.BIN")));

  auto ignoring = Run({"convert", "--ignore-checksums", "fw.hex"});
  EXPECT_EQ(status_, 0) << ignoring->Errors();
  EXPECT_EQ(ReadBytes(dir_.File("fw.BIN")), (std::vector<std::uint8_t>{0x11, 0x22}));
}

TEST_F(CliTest, ConvertReportsAMissingFile) {
  auto cli = Run({"convert", "nothere.hex"});
  EXPECT_EQ(status_, 1);
  EXPECT_EQ(cli->Output(), "");
  EXPECT_EQ(cli->Errors(), "loader-cli: Cannot open file \"" + dir_.Path().string() +
                               "/nothere.hex\". No such file or directory.\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("nothere.BIN")));
}

TEST_F(CliTest, UsageErrorsExit64WithTheUsageText) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"burn", "x.hex"},
      {"convert"},
      {"convert", "a.hex", "b.hex"},
      {"convert", "--port", "p", "a.hex"},
      {"flash", "a.hex"},
      {"flash", "--port"},
      {"flash", "--port", "p", "--timeout", "-1", "a.hex"},
      {"flash", "--port", "p", "--timeout", "soon", "a.hex"},
      {"flash", "--port", "p", "--speed", "9600", "a.hex"},
      {"ports", "extra"},
  };
  for (const auto& args : cases) {
    auto cli = Run(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(status_, 64) << joined;
    EXPECT_EQ(cli->Errors().rfind("loader-cli: ", 0), 0u) << joined << cli->Errors();
    EXPECT_NE(cli->Errors().find("\nusage: loader-cli"), std::string::npos) << joined;
  }
  // The error, then the command's usage line: nothing to scroll away.
  auto misuse = Run({"flash", "-p", "COM3", "--speed=9600", "a.hex"});
  EXPECT_EQ(misuse->Errors(),
            "loader-cli: flash has no option '--speed'\n"
            "usage: loader-cli flash -p PORT [-p PORT...] [OPTION...] FILE.hex\n");
}

TEST_F(CliTest, HelpGoesToStandardOutput) {
  auto cli = Run({"--help"});
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(cli->Output().rfind("usage: loader-cli", 0), 0u);
}

// A command's --help wins over anything else on the line, even a missing port.
TEST_F(CliTest, EachCommandHasItsHelp) {
  for (const std::string command : {"convert", "flash", "ports"}) {
    auto cli = Run({command, "--timeout", "3", "-h"});
    EXPECT_EQ(status_, 0) << command;
    EXPECT_EQ(cli->Output().rfind("usage: loader-cli " + command + " ", 0), 0u) << cli->Output();
    EXPECT_EQ(cli->Output().find("usage: loader-cli --version"), std::string::npos);
  }
}

// Ctrl-C in the middle of a long conversion (a 4 GiB gap to fill) ends it at once and leaves
// neither an image nor a temporary file behind.
TEST_F(CliTest, InterruptedConversionStopsAtOnceAndLeavesNothing) {
  WriteFile(dir_.File("far.hex"), ":02000004FFFFFC\n:0100000055AA\n");
  TChild cli({LOADER_CLI_PATH, "convert", "far.hex"},
             TSpawnOptions{dir_.Path().string(), false, dir_.File("err")});
  std::this_thread::sleep_for(200ms);
  const auto sent = std::chrono::steady_clock::now();
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(30s), 130) << cli.Errors();
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 500ms);
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "far.hex" || name == "err") << name;
  }
}

}  // namespace
}  // namespace e2e
