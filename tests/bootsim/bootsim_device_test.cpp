// The simulated boot code without any I/O: answers, protocol checks and injected faults.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <numeric>
#include <stdexcept>

#include "boot_device.h"
#include "bootsim_options.h"
#include "port_publisher.h"
#include "serial/port_names.h"
#include "test_support.h"

namespace bootsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Page(unsigned address) {
  return {0x11, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
}

Bytes Block(unsigned address, std::uint8_t fill) {
  Bytes b(3 + kBlockSize, fill);
  b[0] = 0x22;
  b[1] = static_cast<std::uint8_t>(address >> 8);
  b[2] = static_cast<std::uint8_t>(address);
  return b;
}

const Bytes kHandshake = {0x55, 0x33, 0xCC};
const Bytes kFinish = {0x99, 0x00, 0x00};

// Everything the device puts on the line for these bytes, echo included.
Bytes Line(TBootDevice& d, const Bytes& in) {
  Bytes out;
  for (const TOutput& o : d.Receive(in)) out.insert(out.end(), o.bytes.begin(), o.bytes.end());
  return out;
}

// Only the device's answers to these bytes.
Bytes Replies(TBootDevice& d, const Bytes& in) {
  Bytes out;
  for (const TOutput& o : d.Receive(in)) {
    if (o.reply) out.insert(out.end(), o.bytes.begin(), o.bytes.end());
  }
  return out;
}

std::uint8_t Sum(std::uint8_t fill) {
  return static_cast<std::uint8_t>(fill * kBlockSize);
}

TEST(BootDevice, AnswersAWholeTransferAndKeepsTheBlocks) {
  TBootDevice d;
  EXPECT_EQ(d.PowerOn().at(0).bytes, Bytes{0x55});
  EXPECT_EQ(Line(d, kHandshake), (Bytes{0x55, 0x33, 0xCC, 0xAA}));
  for (unsigned i = 0; i < 5; ++i) {
    if (i % 4 == 0) {
      EXPECT_EQ(Replies(d, Page(i * 128)), Bytes{0xAA}) << i;
    }
    const Bytes block = Block(i * 128, static_cast<std::uint8_t>(i + 1));
    Bytes expected = block;
    expected.push_back(Sum(static_cast<std::uint8_t>(i + 1)));
    EXPECT_EQ(Line(d, block), expected) << i;
  }
  EXPECT_EQ(Line(d, kFinish), kFinish);  // echo only
  EXPECT_TRUE(d.Finished());
  EXPECT_TRUE(d.Clean()) << d.TakeViolations().at(0);
  ASSERT_EQ(d.Image().size(), 5u * kBlockSize);
  EXPECT_EQ(d.Image()[0], 1);
  EXPECT_EQ(d.Image()[4 * kBlockSize + 127], 5);
}

TEST(BootDevice, PacketsSplitAcrossChunksAreEchoedAtOnceAndAnsweredWhenComplete) {
  TBootDevice d;
  d.PowerOn();
  EXPECT_EQ(Line(d, {0x55}), Bytes{0x55});
  EXPECT_EQ(Line(d, {0x33}), Bytes{0x33});
  EXPECT_EQ(Line(d, {0xCC}), (Bytes{0xCC, 0xAA}));
  Replies(d, Page(0));
  const Bytes block = Block(0, 2);
  EXPECT_TRUE(Replies(d, Bytes(block.begin(), block.begin() + 70)).empty());
  EXPECT_EQ(Replies(d, Bytes(block.begin() + 70, block.end())), Bytes{Sum(2)});
  EXPECT_TRUE(d.Clean());
}

TEST(BootDevice, AddressesWrapAt64KiB) {
  TBootDevice d;
  d.PowerOn();
  Replies(d, kHandshake);
  for (unsigned i = 0; i <= 513; ++i) {
    const unsigned address = (i * 128) & 0xFFFF;
    if (i % 4 == 0) {
      ASSERT_EQ(Replies(d, Page(address)), Bytes{0xAA}) << i;
    }
    ASSERT_EQ(Replies(d, Block(address, 1)).size(), 1u) << i;
  }
  Replies(d, kFinish);
  EXPECT_TRUE(d.Finished());
  EXPECT_TRUE(d.Clean());
}

struct TViolationCase {
  const char* name;
  std::vector<Bytes> packets;  // after power-on, unless powerOn is false
  const char* text;
  bool powerOn = true;
};

class BootDeviceViolation : public ::testing::TestWithParam<TViolationCase> {};

TEST_P(BootDeviceViolation, IsReportedAndStopsTheAnswers) {
  const TViolationCase& c = GetParam();
  TBootDevice d;
  if (c.powerOn) d.PowerOn();
  for (const Bytes& p : c.packets) d.Receive(p);
  const std::vector<std::string> v = d.TakeViolations();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0], c.text);
  EXPECT_FALSE(d.Clean());
  EXPECT_EQ(d.Phase(), TPhase::phStopped);
  // Echo only from now on.
  EXPECT_EQ(Line(d, Page(0)), Page(0));
  EXPECT_TRUE(d.TakeViolations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, BootDeviceViolation,
    ::testing::Values(
        TViolationCase{
            "BadHandshake", {{0x55, 0x33, 0xCD}}, "expected the handshake 55 33 CC, got 55 33 CD"},
        TViolationCase{
            "BlockWithoutPage", {kHandshake, Block(0, 1)}, "block 0 without a page command"},
        TViolationCase{"PageInsideAPage",
                       {kHandshake, Page(0), Block(0, 1), Page(128)},
                       "page command before block 1, which does not begin a page"},
        TViolationCase{
            "SecondPage", {kHandshake, Page(0), Page(0)}, "second page command before block 0"},
        TViolationCase{"PageAddress",
                       {kHandshake, Page(0x200)},
                       "page command for address 0x0200, expected 0x0000"},
        TViolationCase{"BlockAddress",
                       {kHandshake, Page(0), Block(0, 1), Block(0, 1)},
                       "block 1 for address 0x0000, expected 0x0080"},
        TViolationCase{
            "UnknownCommand", {kHandshake, {0x42}}, "unknown command 0x42 after block 0"},
        TViolationCase{
            "FinishBeforeData", {kHandshake, kFinish}, "finish command before any data block"},
        TViolationCase{"FinishWithArguments",
                       {kHandshake, Page(0), Block(0, 1), {0x99, 0, 1}},
                       "finish command 99 00 01, expected 99 00 00"},
        TViolationCase{
            "BeforePowerOn", {{0x55}}, "byte 0x55 sent before the device announced itself", false},
        TViolationCase{"AfterFinish",
                       {kHandshake, Page(0), Block(0, 1), kFinish, {0x00}},
                       "byte 0x00 sent after the finish command"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BootDevice, PowerOnStartsAFreshSession) {
  TBootDevice d;
  d.PowerOn();
  d.Receive(Block(0, 1));  // a violation: no handshake
  d.PowerOn();
  EXPECT_EQ(Replies(d, kHandshake), Bytes{0xAA});
  EXPECT_EQ(Replies(d, Page(0)), Bytes{0xAA});
  EXPECT_EQ(Replies(d, Block(0, 3)), Bytes{Sum(3)});
  EXPECT_EQ(d.Image().size(), 128u);
  EXPECT_EQ(d.ViolationCount(), 1);  // the first session's, remembered for the exit status
}

TEST(BootDeviceFaults, WrongSumOnlyAtTheChosenBlock) {
  TBootDevice d({.wrongSumAt = 1});
  d.PowerOn();
  Replies(d, kHandshake);
  Replies(d, Page(0));
  EXPECT_EQ(Replies(d, Block(0, 2)), Bytes{Sum(2)});
  EXPECT_EQ(Replies(d, Block(128, 2)), Bytes{static_cast<std::uint8_t>(Sum(2) + 1)});
  EXPECT_EQ(Replies(d, Block(256, 2)), Bytes{Sum(2)});
  EXPECT_TRUE(d.Clean());  // a fault the device was asked for is no violation
}

TEST(BootDeviceFaults, WrongHandshakeReply) {
  TBootDevice d({.wrongHandshakeReply = true});
  d.PowerOn();
  EXPECT_EQ(Replies(d, kHandshake), Bytes{kWrongHandshakeReply});
}

TEST(BootDeviceFaults, NoiseAheadOfTheAnnouncement) {
  TBootDevice d({.noise = 5});
  EXPECT_EQ(d.PowerOn().at(0).bytes, (Bytes{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x55}));
  TBootDevice burst({.noise = 1, .announceBurst = 3});
  EXPECT_EQ(burst.PowerOn().at(0).bytes, (Bytes{0x00, 0x55, 0x55, 0x55}));
}

TEST(BootDeviceFaults, SplitAndDelaySeparateTheReplyFromTheEcho) {
  struct {
    TDeviceOptions options;
    std::chrono::nanoseconds gap;
  } cases[] = {{{}, std::chrono::nanoseconds(0)},
               {{.split = true}, kSplitGap},
               {{.delay = std::chrono::milliseconds(20)}, std::chrono::milliseconds(20)},
               {{.split = true, .delay = std::chrono::milliseconds(1)}, kSplitGap}};
  for (const auto& c : cases) {
    TBootDevice d(c.options);
    d.PowerOn();
    const std::vector<TOutput> out = d.Receive(kHandshake);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FALSE(out[0].reply);
    EXPECT_EQ(out[0].gap.count(), 0);
    EXPECT_TRUE(out[1].reply);
    EXPECT_EQ(out[1].gap, c.gap);
  }
}

TEST(BootDeviceFaults, SilentAfterTheChosenBlock) {
  TBootDevice d({.silentAfter = 0});
  d.PowerOn();
  Replies(d, kHandshake);
  Replies(d, Page(0));
  EXPECT_EQ(Replies(d, Block(0, 1)), Bytes{Sum(1)});
  EXPECT_TRUE(Replies(d, Block(128, 1)).empty());
  EXPECT_EQ(Line(d, Block(256, 1)), Block(256, 1));  // the line still echoes
  EXPECT_TRUE(d.Clean());
}

TEST(BootsimOptions, ParsesEveryOption) {
  const TSimOptions o = ParseOptions({"--out",
                                      "o.bin",
                                      "--stats",
                                      "s.txt",
                                      "--announce-every",
                                      "250",
                                      "--keep-going",
                                      "--publish-name",
                                      "dev",
                                      "--wrong-sum-at",
                                      "3",
                                      "--wrong-handshake-reply",
                                      "--noise",
                                      "4",
                                      "--announce-burst",
                                      "3",
                                      "--split",
                                      "--delay",
                                      "7",
                                      "--silent-after",
                                      "9",
                                      "--pace",
                                      "--announce-at-start"});
  EXPECT_EQ(o.outFile, "o.bin");
  EXPECT_EQ(o.statsFile, "s.txt");
  EXPECT_EQ(o.announceEvery, std::chrono::milliseconds(250));
  EXPECT_TRUE(o.announceAtStart);
  EXPECT_EQ(o.afterFinish, TAfterFinish::afKeepGoing);
  EXPECT_EQ(o.publishName, "dev");
  EXPECT_EQ(o.device.wrongSumAt, 3);
  EXPECT_TRUE(o.device.wrongHandshakeReply);
  EXPECT_EQ(o.device.noise, 4);
  EXPECT_EQ(o.device.announceBurst, 3);
  EXPECT_TRUE(o.device.split);
  EXPECT_EQ(o.device.delay, std::chrono::milliseconds(7));
  EXPECT_EQ(o.device.silentAfter, 9);
  EXPECT_TRUE(o.pace);
  EXPECT_EQ(ParseOptions({"--once"}).afterFinish, TAfterFinish::afExit);
  EXPECT_FALSE(ParseOptions({"--no-publish"}).publish);
}

TEST(BootsimOptions, RejectsMalformedCommandLines) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--out"},
      {"--noise", "-1"},
      {"--announce-burst", "0"},
      {"--announce-burst", "4097"},
      {"--delay", "abc"},
      {"--wrong-sum-at", "1x"},
      {"--announce-every", "0"},
      {"--once", "--keep-going"},
      {"--publish-name", "a/b"},
      {"--publish-name", ".."},
      {"--publish-name", ".hidden"},
      {"--publish-name", "two\nlines"},
      {"--no-publish", "--publish-name", "x"},
  };
  for (const auto& args : cases) {
    EXPECT_THROW(ParseOptions(args), EUsageError) << args[0];
  }
}

// Publishing: the name is the simulator's while it runs, as the loader's readers see it.
namespace fs = std::filesystem;

class Publishing : public ::testing::Test {
 protected:
  testsupport::TTempDir temp_{"bootsim-publish"};
  const std::string dir_ = (temp_.Path() / "ports").string();

  bool Live(const std::string& name) const { return serial::IsPublishedPortLive(dir_, name); }
};

TEST_F(Publishing, NamesAreHeldUntilWithdrawn) {
  TPublisher first;
  TPublisher second;
  EXPECT_EQ(first.Publish(dir_, "/dev/pts/41", ""), "bootsim0");
  EXPECT_EQ(second.Publish(dir_, "/dev/pts/42", ""), "bootsim1");
  EXPECT_EQ(fs::read_symlink(dir_ + "/bootsim0"), "/dev/pts/41");
  EXPECT_TRUE(Live("bootsim0"));
  EXPECT_THROW(TPublisher().Publish(dir_, "/dev/pts/43", "bootsim1"), std::runtime_error);
  first.Withdraw();
  EXPECT_FALSE(Live("bootsim0"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ + "/bootsim0")));
  EXPECT_FALSE(fs::exists(serial::PublishedLockPath(dir_, "bootsim0")));
  EXPECT_TRUE(Live("bootsim1"));
}

// A simulator killed with SIGKILL cannot withdraw: its link stays, but its lock goes with
// it, so readers no longer take the name and the next simulator claims it.
TEST_F(Publishing, KilledSimulatorsNameIsDeadAndReclaimed) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      TPublisher publisher;
      publisher.Publish(dir_, "/dev/pts/41", "");
      [[maybe_unused]] const ssize_t n = write(ready[1], "x", 1);
      for (;;) pause();
    } catch (...) {
    }
    _exit(1);  // never back into the test runner
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  EXPECT_TRUE(Live("bootsim0"));
  kill(child, SIGKILL);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  EXPECT_TRUE(fs::is_symlink(dir_ + "/bootsim0"));
  EXPECT_FALSE(Live("bootsim0"));

  TPublisher next;
  EXPECT_EQ(next.Publish(dir_, "/dev/pts/42", ""), "bootsim0");
  EXPECT_EQ(fs::read_symlink(dir_ + "/bootsim0"), "/dev/pts/42");
  EXPECT_TRUE(Live("bootsim0"));
}

TEST_F(Publishing, FolderOthersMayWriteIsRefused) {
  fs::create_directory(dir_);
  fs::permissions(dir_, fs::perms(0777));
  try {
    TPublisher().Publish(dir_, "/dev/pts/41", "");
    ADD_FAILURE() << "published";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              dir_ + " is not a private folder of this user (use --no-publish)");
  }
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
}  // namespace bootsim
