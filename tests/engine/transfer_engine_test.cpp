#include "engine/transfer_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "engine/image_file.h"
#include "engine_fakes.h"
#include "oh2b/oh2b.h"
#include "platform/file.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using engine::TOutcome;
using engine::TTransferEngine;
using engine::TTransferState;
using enginetest::Bytes;
using enginetest::ExpectedPackets;
using enginetest::Pattern;
using Log = std::vector<std::string>;

const std::string kErrorMessage = "message Ошибка ответа";
// The system's text for a missing file.
const std::string kNotFoundText = platform::SystemErrorText(engine::TImageFile::NotFound());

// Each test converts HEX files in a fresh current directory of its own.
class EngineTest : public ::testing::Test {
 protected:
  std::string WriteHex(const Bytes& image, const std::string& name = "fw.hex") {
    testsupport::WriteFile(dir_ / name, testsupport::IntelHex(image));
    return (dir_ / name).string();
  }

  // Where the images go: the test's own folder.
  std::string Folder() const { return dir_.string(); }

  // Starts a transfer of `image` and lets the device announce itself.
  void Transfer(const Bytes& image, std::size_t chunk = 0) {
    engine.Start(WriteHex(image), Folder());
    line.DeviceSends({0x55});
    line.Deliver(engine, chunk);
  }

  void ExpectPackets(const std::vector<Bytes>& expected) {
    ASSERT_EQ(line.packets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(line.packets[i], expected[i]) << "packet " << i;
  }

  // The state after an error stop: reset, idle, back to ready, image released.
  void ExpectErrorStopped() {
    EXPECT_EQ(engine.TransferState(), engine::tsIdle);
    EXPECT_EQ(engine.Outcome(), TOutcome::ocErrorStop);
    EXPECT_EQ(engine.BlockCount(), 0);
    EXPECT_EQ(engine.BlockAddress(), 0);
    EXPECT_FALSE(engine.HasImage());
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(Log(log.end() - 5, log.end()),
              (Log{"parts 0", "progress off", kErrorMessage, "controls on", "prompt off"}));
  }

  testsupport::TTempWorkDir work_{"engine-test"};
  const fs::path dir_ = work_.Path();
  Log log;
  enginetest::FakeControls controls{log};
  enginetest::FakeLine line{log};
  TTransferEngine engine{line, controls};
};

TEST_F(EngineTest, Exchange600BytesByteForByte) {
  const Bytes image = Pattern(600);
  Transfer(image);

  ASSERT_EQ(line.packets.size(), 9u);
  const Bytes headers[9] = {{0x55, 0x33, 0xCC}, {0x11, 0x00, 0x00}, {0x22, 0x00, 0x00},
                            {0x22, 0x00, 0x80}, {0x22, 0x01, 0x00}, {0x22, 0x01, 0x80},
                            {0x11, 0x02, 0x00}, {0x22, 0x02, 0x00}, {0x99, 0x00, 0x00}};
  const std::size_t blockStart[9] = {0, 0, 0, 128, 256, 384, 0, 512, 0};
  for (std::size_t i = 0; i < 9; ++i) {
    const Bytes& p = line.packets[i];
    const bool block = headers[i][0] == 0x22;
    ASSERT_EQ(p.size(), block ? 131u : 3u) << "packet " << i;
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 3), headers[i]) << "packet " << i;
    if (!block) continue;
    const std::size_t n = std::min<std::size_t>(128, 600 - blockStart[i]);
    EXPECT_TRUE(std::equal(p.begin() + 3, p.begin() + 3 + static_cast<std::ptrdiff_t>(n),
                           image.begin() + static_cast<std::ptrdiff_t>(blockStart[i])))
        << "packet " << i;
  }
  // The last block holds 88 image bytes and 40 zeros, not what the block before left.
  const Bytes& last = line.packets[7];
  EXPECT_TRUE(std::all_of(last.begin() + 3 + 88, last.end(), [](auto b) { return b == 0; }));

  // The device's side of the line: announcement, acks and the five block sums.
  EXPECT_EQ(line.deviceSent, (Bytes{0x55, 0xAA, 0xAA, 0xE2, 0xAB, 0xFF, 0xCB, 0xAA, 0x26}));

  EXPECT_EQ(log, (Log{"total 4",
                      "parts 0",
                      "prompt on",
                      "progress on",
                      "controls off",
                      "prompt off",
                      "send 55 33 CC",
                      "send 11 00 00",
                      "parts 1",
                      "send 22 00 00 +128",
                      "parts 2",
                      "send 22 00 80 +128",
                      "parts 3",
                      "send 22 01 00 +128",
                      "parts 4",
                      "send 22 01 80 +128",
                      "send 11 02 00",
                      "parts 5",
                      "send 22 02 00 +128",
                      "progress off",
                      "controls on",
                      "send 99 00 00"}));
  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
  EXPECT_FALSE(engine.HasImage());
  EXPECT_EQ(engine.BlockCount(), 5);
  EXPECT_EQ(engine.BlockAddress(), 0x0280);
  EXPECT_TRUE(line.waiting.empty());
}

struct TransferCase {
  std::size_t size;
  std::size_t chunk;  // bytes per notification, 0 = all that the line holds
};

class TransferTest : public EngineTest, public ::testing::WithParamInterface<TransferCase> {};

// Whole transfers, sizes around the block and page boundaries and beyond 64 KiB, with
// the line's bytes reported all at once, one at a time, or split inside packets.
TEST_P(TransferTest, SendsEveryBlockAndFinishes) {
  const auto [size, chunk] = GetParam();
  const Bytes image = Pattern(size, static_cast<std::uint32_t>(size) + 7);
  Transfer(image, chunk);

  ExpectPackets(ExpectedPackets(image));
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  EXPECT_FALSE(engine.HasImage());
  // The preview of a transfer (loader-cli flash --dry-run) counts what was sent.
  const auto sent = [this](std::uint8_t kind) {
    return static_cast<std::uint64_t>(std::count_if(
        line.packets.begin(), line.packets.end(), [kind](const Bytes& p) { return p[0] == kind; }));
  };
  EXPECT_EQ(sent(0x22), TTransferEngine::BlocksFor(size));
  EXPECT_EQ(sent(0x11), TTransferEngine::PageCommandsFor(size));

  // Progress: the total, 0, then one step per block; the last block one above the total.
  const std::size_t total = size / 128;
  Log progress;
  for (const auto& e : log)
    if (e.rfind("total", 0) == 0 || e.rfind("parts", 0) == 0) progress.push_back(e);
  Log expected{"total " + std::to_string(total), "parts 0"};
  for (std::size_t i = 1; i <= total + 1; ++i) expected.push_back("parts " + std::to_string(i));
  EXPECT_EQ(progress, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TransferTest,
    ::testing::Values(TransferCase{0, 0}, TransferCase{0, 1}, TransferCase{1, 0},
                      TransferCase{127, 1}, TransferCase{128, 0}, TransferCase{129, 2},
                      TransferCase{256, 0}, TransferCase{511, 0}, TransferCase{512, 1},
                      TransferCase{513, 0}, TransferCase{600, 1}, TransferCase{600, 2},
                      TransferCase{600, 3}, TransferCase{600, 132}, TransferCase{600, 133},
                      TransferCase{2048, 0}, TransferCase{65536, 0}, TransferCase{65736, 0},
                      TransferCase{65736, 1}),
    [](const auto& info) {
      return "size" + std::to_string(info.param.size) + "_chunk" + std::to_string(info.param.chunk);
    });

// The caller's clock ends only a transfer in progress; a lost line ends a wait as well,
// without a message of the engine's own.
TEST_F(EngineTest, NoReplyAndAbandonEndOnlyWhatIsRunning) {
  engine.NoReply();  // idle: nothing happens
  EXPECT_TRUE(log.empty());
  engine.Start(WriteHex(enginetest::Pattern(300)), Folder());
  log.clear();
  engine.NoReply();  // waiting for the announcement has no limit
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(engine.TransferState(), engine::tsAwaitDevice);
  engine.Abandon();
  EXPECT_EQ(log, (Log{"parts 0", "progress off", "controls on", "prompt off"}));
  EXPECT_EQ(engine.Outcome(), TOutcome::ocAbandoned);
  EXPECT_FALSE(engine.HasImage());

  log.clear();
  line.replyOverride[1] = {};  // silent after the page command
  Transfer(enginetest::Pattern(300));
  ASSERT_EQ(engine.TransferState(), engine::tsAwaitPageAck);
  engine.NoReply();
  EXPECT_EQ(engine.Outcome(), TOutcome::ocNoReply);
  EXPECT_EQ(engine.LastStop().state, engine::tsAwaitPageAck);
  EXPECT_FALSE(engine.LastStop().received);
  EXPECT_EQ(Log(log.end() - 5, log.end()),
            (Log{"parts 0", "progress off", std::string("message ") + engine::kNoReplyText,
                 "controls on", "prompt off"}));
}

TEST_F(EngineTest, EmptyImageSendsOneZeroBlock) {
  Transfer({});
  Bytes zeroBlock{0x22, 0x00, 0x00};
  zeroBlock.resize(131, 0x00);
  ExpectPackets({{0x55, 0x33, 0xCC}, {0x11, 0x00, 0x00}, zeroBlock, {0x99, 0x00, 0x00}});
  EXPECT_EQ(line.deviceSent, (Bytes{0x55, 0xAA, 0xAA, 0x00}));
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
}

TEST_F(EngineTest, ExactMultipleEndsWithAnExtraZeroBlockWhoseSumFinishes) {
  const Bytes image = Pattern(256);
  line.replyOverride[4] = {};  // hold back the answer to the block after the image
  Transfer(image);

  // After the second full block comes no finish but a block of zeros at 0x0100 (no
  // page command before it), expecting the sum 0.
  ASSERT_EQ(line.packets.size(), 5u);
  Bytes extra{0x22, 0x01, 0x00};
  extra.resize(131, 0x00);
  EXPECT_EQ(line.packets[4], extra);
  EXPECT_EQ(engine.ExpectedReply(), 0x00);
  EXPECT_EQ(engine.TransferState(), engine::tsAwaitBlockSum);
  EXPECT_EQ(engine.Outcome(), TOutcome::ocNone);

  line.DeviceSends({0x00});
  line.Deliver(engine);
  ASSERT_EQ(line.packets.size(), 6u);
  EXPECT_EQ(line.packets[5], (Bytes{0x99, 0x00, 0x00}));
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
}

TEST_F(EngineTest, AddressesWrapAbove64KiB) {
  const Bytes image = Pattern(65536 + 200);
  Transfer(image);
  // Blocks 512 and 513 go to 0x0000 and 0x0080, after a page command for 0x0000.
  const std::size_t firstWrapped = 1 + 512 + 128;  // handshake, blocks, page commands
  ASSERT_GT(line.packets.size(), firstWrapped + 2);
  EXPECT_EQ(line.packets[firstWrapped], (Bytes{0x11, 0x00, 0x00}));
  EXPECT_EQ(
      Bytes(line.packets[firstWrapped + 1].begin(), line.packets[firstWrapped + 1].begin() + 3),
      (Bytes{0x22, 0x00, 0x00}));
  EXPECT_EQ(
      Bytes(line.packets[firstWrapped + 2].begin(), line.packets[firstWrapped + 2].begin() + 3),
      (Bytes{0x22, 0x00, 0x80}));
  EXPECT_EQ(engine.BlockCount(), 514);
  EXPECT_EQ(engine.BlockAddress(), 0x0100);  // 514 × 128 modulo 65536
  EXPECT_EQ(log.front(), "total 513");
}

TEST_F(EngineTest, ReplyArrivingWithItsEchoInOneNotification) {
  engine.Start(WriteHex(Pattern(600)), Folder());
  line.replyOverride[0] = {};  // hold the handshake's answer back
  line.waiting = {0x55};
  engine.RxChar(1);
  ASSERT_EQ(line.packets.size(), 1u);
  ASSERT_EQ(line.pending.size(), 3u);  // the echo, not yet reported

  line.DeviceSends({0xAA});
  line.Deliver(engine);  // first notification: 4 bytes, echo then reply
  EXPECT_EQ(line.readSizes.at(1), 4);
  ASSERT_GE(line.packets.size(), 2u);
  EXPECT_EQ(line.packets[1], (Bytes{0x11, 0x00, 0x00}));
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
}

// The packet that answers a byte goes out after the bytes read with that byte had arrived,
// so they are no echo of it, however they look (an announcement repeated before the loader
// read it, stray bytes after an ack): they are ignored.
TEST_F(EngineTest, BytesReadWithTheAnsweredOneAreNoEchoOfTheAnswer) {
  const struct {
    Bytes announcement, answer;  // each read in one piece; the answer after the echo
  } cases[] = {{{0x55, 0x55, 0x55}, {0xAA}},
               {{0x00, 0x55, 0x55}, {0xAA, 0x55}},
               {{0x55}, {0xAA, 0x01, 0x02, 0x03, 0xAA}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    line.packets.clear();
    line.replyOverride = {{0, {}}};  // the case plays the handshake's answer
    engine.Start(WriteHex(Pattern(600)), Folder());
    line.waiting.assign(c.announcement.begin(), c.announcement.end());
    engine.RxChar(static_cast<int>(c.announcement.size()));
    line.Deliver(engine);  // the handshake's echo
    line.waiting.assign(c.answer.begin(), c.answer.end());
    engine.RxChar(static_cast<int>(c.answer.size()));
    line.Deliver(engine);
    ExpectPackets(ExpectedPackets(Pattern(600)));
    EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
  }
}

// A noisy line while the loader was stalled: everything reported is read, 1024 bytes at a
// time, the announcement behind the noise included.
TEST_F(EngineTest, EveryByteReportedIsReadIn1024BytePieces) {
  engine.Start(WriteHex(Pattern(600)), Folder());
  line.waiting.assign(2100, 0x00);
  line.waiting.push_back(0x55);
  engine.RxChar(2101);
  EXPECT_EQ(line.readSizes, (std::vector<int>{1024, 1024, 53}));
  EXPECT_EQ(line.packets.size(), 1u);
}

// Packets of a 256-byte image: 0 handshake, 1 page, 2 and 3 blocks, 4 the closing zero block.
TEST_F(EngineTest, AnEchoThatDiffersStopsTheTransferNamingPacketAndOffset) {
  const struct {
    std::size_t packet;  // whose echo the line changes
    int offset;          // the byte changed; -1: a stray 0x00 ahead of the echo
    const char* text;    // after "Искажение на линии ttyTEST0: эхо "
  } cases[] = {{4, -1, "блока 2 (0x0100), байт 0: отправлен 0x22, получен 0x00"},
               {0, 2, "рукопожатия, байт 2: отправлен 0xCC, получен 0xCD"},
               {1, 1, "команды страницы 0x0000, байт 1: отправлен 0x00, получен 0x01"},
               {3, 130, "блока 1 (0x0080), байт 130: отправлен 0x5E, получен 0x5F"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    line.packets.clear();
    Bytes echo = ExpectedPackets(Pattern(256)).at(c.packet);
    if (c.offset < 0) echo.insert(echo.begin(), 0x00);
    if (c.offset >= 0) echo[static_cast<std::size_t>(c.offset)] ^= 0x01;
    line.echoOverride = {{c.packet, echo}};
    try {
      Transfer(Pattern(256));
      ADD_FAILURE() << "no line fault";
    } catch (const engine::ELineFault& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Искажение на линии ttyTEST0: эхо ") + c.text);
    }
    EXPECT_EQ(engine.Outcome(), TOutcome::ocLineFault);
    EXPECT_FALSE(engine.HasImage());
    EXPECT_EQ(line.packets.size(), c.packet + 1);
    EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"controls on", "prompt off"}));
  }
}

TEST_F(EngineTest, NoiseBeforeTheAnnouncementIsIgnored) {
  for (std::size_t chunk : {0, 1}) {
    SCOPED_TRACE(chunk);
    line.packets.clear();
    engine.Start(WriteHex(Pattern(300)), Folder());
    line.DeviceSends({0x00, 0xFF, 0xFF, 0x00, 0x55});
    line.Deliver(engine, chunk);
    ExpectPackets(ExpectedPackets(Pattern(300)));
    EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
  }
}

struct WrongReplyCase {
  const char* name;
  int packet;                        // the packet answered wrongly; -1 = the announcement
  std::optional<std::uint8_t> byte;  // the wrong byte; none = the right sum plus one
};

class WrongReplyTest : public EngineTest, public ::testing::WithParamInterface<WrongReplyCase> {};

TEST_P(WrongReplyTest, StopsTransferAndReturnsToReady) {
  const WrongReplyCase& c = GetParam();
  const Bytes image = Pattern(600);
  const std::vector<Bytes> expected = ExpectedPackets(image);
  engine.Start(WriteHex(image), Folder());
  if (c.packet >= 0) {
    const Bytes& p = expected[static_cast<std::size_t>(c.packet)];
    line.replyOverride[static_cast<std::size_t>(c.packet)] = {
        c.byte ? *c.byte : static_cast<std::uint8_t>(enginetest::Sum(p.data() + 3, 128) + 1)};
  }
  line.DeviceSends({c.packet < 0 ? *c.byte : std::uint8_t{0x55}});
  line.Deliver(engine);

  ExpectErrorStopped();
  const std::size_t sent = static_cast<std::size_t>(c.packet + 1);
  ExpectPackets(
      std::vector<Bytes>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(sent)));
  EXPECT_EQ(std::count(log.begin(), log.end(), kErrorMessage), 1);

  // Whatever the device says afterwards is ignored.
  const std::size_t logSize = log.size();
  line.DeviceSends({0x55, 0xAA, 0xAA, 0x00, 0xFF, 0x55});
  line.Deliver(engine, 1);
  EXPECT_EQ(line.packets.size(), sent);
  EXPECT_EQ(log.size(), logSize);

  // A new start runs a whole transfer.
  line.packets.clear();
  line.replyOverride.clear();
  Transfer(image);
  ExpectPackets(expected);
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
}

// Packets of the 600-byte image: 0 handshake, 1 page, 2-5 blocks, 6 page, 7 last block.
// The third block's sum (packet 4) is 0xFF: there 0xFF is the right answer, elsewhere a wrong one.
INSTANTIATE_TEST_SUITE_P(EachState, WrongReplyTest,
                         ::testing::Values(WrongReplyCase{"AnnouncementOther", -1, 0x56},
                                           WrongReplyCase{"AnnouncementAck", -1, 0xAA},
                                           WrongReplyCase{"HandshakeZero", 0, 0x00},
                                           WrongReplyCase{"HandshakeFF", 0, 0xFF},
                                           WrongReplyCase{"HandshakeAnnouncementAgain", 0, 0x55},
                                           WrongReplyCase{"PageZero", 1, 0x00},
                                           WrongReplyCase{"PageFF", 1, 0xFF},
                                           WrongReplyCase{"SecondPageOffByOne", 6, 0xAB},
                                           WrongReplyCase{"FirstBlockSumOffByOne", 2, std::nullopt},
                                           WrongReplyCase{"BlockSumZero", 3, 0x00},
                                           WrongReplyCase{"BlockSumAck", 2, 0xAA},
                                           WrongReplyCase{"BlockSumFF", 5, 0xFF},
                                           WrongReplyCase{"LastBlockSumOffByOne", 7, std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, BytesAfterFinishAreIgnored) {
  Transfer(Pattern(300));
  ASSERT_EQ(engine.Outcome(), TOutcome::ocFinished);
  const std::size_t packets = line.packets.size();
  const std::size_t logSize = log.size();
  line.DeviceSends({0x55, 0xAA, 0x00, 0x12, 0xFF, 0x55, 0xAA});
  line.Deliver(engine, 1);
  line.DeviceSends(Bytes(2000, 0x55));
  line.Deliver(engine);
  EXPECT_EQ(line.packets.size(), packets);
  EXPECT_EQ(log.size(), logSize);
  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
}

TEST_F(EngineTest, StartWithoutAChosenPortDoesNothing) {
  line.chosen = false;
  line.open = false;
  const std::string hex = WriteHex(Pattern(300));
  engine.Start(hex, Folder());
  engine.Start((dir_ / "missing.hex").string(), Folder());  // not even converted, so no error
  EXPECT_FALSE(fs::exists(dir_ / "fw.BIN"));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(line.opens, 0);
  EXPECT_FALSE(engine.HasImage());
  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  EXPECT_EQ(engine.Outcome(), TOutcome::ocNone);
  line.DeviceSends({0x55});
  line.Deliver(engine);
  EXPECT_TRUE(line.packets.empty());
}

TEST_F(EngineTest, StartOpensAClosedPortBeforeThePrompt) {
  line.open = false;
  engine.Start(WriteHex(Pattern(600)), Folder());
  EXPECT_EQ(line.opens, 1);
  EXPECT_EQ(log, (Log{"total 4", "parts 0", "prompt on"}));
  EXPECT_EQ(engine.TransferState(), engine::tsAwaitDevice);
  EXPECT_EQ(engine.ExpectedReply(), 0x55);
  EXPECT_EQ(engine.Outcome(), TOutcome::ocNone);
  EXPECT_TRUE(line.packets.empty());  // nothing is sent before the device speaks
}

// The image is converted into the folder the caller gives, whatever the current directory,
// and sent from there.
TEST_F(EngineTest, ImageIsMadeAndReadInTheFolderGiven) {
  const fs::path out = dir_ / "out";
  fs::create_directory(out);
  const Bytes image = Pattern(300);
  engine.Start(WriteHex(image), out.string());
  EXPECT_TRUE(fs::exists(out / "fw.BIN"));
  EXPECT_FALSE(fs::exists(dir_ / "fw.BIN"));
  line.DeviceSends({0x55});
  line.Deliver(engine);
  ExpectPackets(ExpectedPackets(image));
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
}

// The start and the end are told as events: the start when the device has announced itself,
// before the progress bar shows; the end, of a transfer or of the wait, once the bar is
// hidden and before any box, with the outcome and where it stopped.
TEST_F(EngineTest, StartAndEndAreToldOnceInTheirPlace) {
  using enginetest::FakeLine;
  const struct {
    const char* name;
    bool announce;
    void (*end)(TTransferEngine&, FakeLine&);
    TOutcome outcome;
    TTransferState stoppedIn;
  } cases[] = {
      {"Finished", true, [](TTransferEngine&, FakeLine&) {}, TOutcome::ocFinished, engine::tsIdle},
      {"ErrorStop", true, [](TTransferEngine&, FakeLine&) {}, TOutcome::ocErrorStop,
       engine::tsAwaitPageAck},
      {"NoReply", true, [](TTransferEngine& e, FakeLine&) { e.NoReply(); }, TOutcome::ocNoReply,
       engine::tsAwaitHandshakeAck},
      {"Abandoned", true, [](TTransferEngine& e, FakeLine&) { e.Abandon(); }, TOutcome::ocAbandoned,
       engine::tsAwaitHandshakeAck},
      {"WaitAbandoned", false, [](TTransferEngine& e, FakeLine&) { e.Abandon(); },
       TOutcome::ocAbandoned, engine::tsAwaitDevice},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Log caseLog;
    enginetest::FakeControls caseControls{caseLog};
    FakeLine caseLine{caseLog};
    TTransferEngine caseEngine{caseLine, caseControls};
    if (c.outcome == TOutcome::ocErrorStop) caseLine.replyOverride[1] = {0x00};
    if (c.outcome != TOutcome::ocFinished && c.outcome != TOutcome::ocErrorStop)
      caseLine.replyOverride[0] = {};
    caseEngine.Start(WriteHex(Pattern(600)), Folder());
    if (c.announce) caseLine.DeviceSends({0x55});
    caseLine.Deliver(caseEngine);
    c.end(caseEngine, caseLine);
    const auto& events = caseControls.events;
    ASSERT_EQ(events.size(), c.announce ? 2u : 1u);
    if (c.announce) {
      EXPECT_EQ(events[0].what, "began");
      EXPECT_EQ(caseLog.at(events[0].logged), "progress on");
    }
    EXPECT_EQ(events.back().what, "ended " + std::to_string(static_cast<int>(c.outcome)));
    EXPECT_EQ(caseLog.at(events.back().logged - 1), "progress off");
    EXPECT_EQ(events.back().stop.state, c.stoppedIn);
  }
}

TEST_F(EngineTest, RestartWhileWaitingUsesTheNewImage) {
  line.open = false;
  engine.Start(WriteHex(Pattern(600), "a.hex"), Folder());
  const Bytes second = Pattern(300, 42);
  line.DeviceSends({0x00});
  line.Deliver(engine);
  engine.Start(WriteHex(second, "b.hex"), Folder());
  EXPECT_EQ(line.opens, 1);
  EXPECT_EQ(log, (Log{"total 4", "parts 0", "prompt on", "total 2", "parts 0", "prompt on"}));
  line.DeviceSends({0x55});
  line.Deliver(engine);
  ExpectPackets(ExpectedPackets(second));
}

TEST_F(EngineTest, EachStartConvertsTheHexFileAgain) {
  const Bytes first = Pattern(300, 5);
  const Bytes second = Pattern(700, 6);
  Transfer(first);
  line.packets.clear();
  Transfer(second);  // same HEX file name, new contents
  ExpectPackets(ExpectedPackets(second));
}

TEST_F(EngineTest, PortOpenFailureLeavesTheEngineWaitingWithItsImage) {
  line.open = false;
  line.openError = "Specified device not found (bootsim7).";
  const Bytes image = Pattern(600);
  try {
    engine.Start(WriteHex(image), Folder());
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Specified device not found (bootsim7).");
  }
  EXPECT_EQ(engine.TransferState(), engine::tsAwaitDevice);
  EXPECT_TRUE(engine.HasImage());
  EXPECT_EQ(log, (Log{"total 4", "parts 0"}));

  // A port opened from the port menu then carries the device's announcement.
  line.openError.clear();
  line.Open();
  line.DeviceSends({0x55});
  line.Deliver(engine);
  ExpectPackets(ExpectedPackets(image));
  EXPECT_EQ(engine.Outcome(), TOutcome::ocFinished);
}

struct FailedStartCase {
  const char* name;
  bool earlierStart;         // the engine was waiting for the device from an earlier start
  bool brokenHex;            // a conversion error, else a HEX file that does not exist
  bool cancelled = false;    // a good HEX file whose conversion is cancelled
  bool badChecksum = false;  // a wrong checksum, with the record checks on
};

class FailedStartTest : public EngineTest, public ::testing::WithParamInterface<FailedStartCase> {};

TEST_P(FailedStartTest, NoImageMeansNoWait) {
  const FailedStartCase& c = GetParam();
  if (c.earlierStart) engine.Start(WriteHex(Pattern(600)), Folder());
  log.clear();

  std::string hex = (dir_ / "gone.hex").string();
  if (c.brokenHex) {
    hex = (dir_ / "broken.hex").string();
    std::ofstream(hex, std::ios::binary) << ":010000ZZ11EE\r\n";
  }
  if (c.cancelled) {
    hex = WriteHex(Pattern(600), "good.hex");
    engine.SetConversionCancel([] { return true; });
  }
  if (c.badChecksum) {
    hex = (dir_ / "corrupt.hex").string();
    std::ofstream(hex, std::ios::binary) << ":0100000011EE\r\n:0100010022DD\r\n";
    engine.SetRecordChecks(true);
  }
  try {
    engine.Start(hex, Folder());
    FAIL() << "no error";
  } catch (const oh2b::EConvertCancelled& e) {
    EXPECT_TRUE(c.cancelled);
    EXPECT_STREQ(e.what(), "Conversion cancelled");
  } catch (const oh2b::ERecordCheckError& e) {
    EXPECT_TRUE(c.badChecksum);
    EXPECT_EQ(e.Line(), 2u);
  } catch (const oh2b::EConvertError& e) {
    EXPECT_TRUE(c.brokenHex);
    EXPECT_STREQ(e.what(), "'$ZZ' is not a valid integer value");
  } catch (const oh2b::EFOpenError& e) {
    EXPECT_FALSE(c.brokenHex);
    // The converter returns no name for a missing HEX file: the error names that file.
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + hex + "\". " +
                                         platform::SystemErrorText(engine::TImageFile::NotFound()));
  }

  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  EXPECT_FALSE(engine.HasImage());
  EXPECT_EQ(engine.Outcome(), TOutcome::ocNone);
  EXPECT_EQ(log, c.earlierStart ? Log{"prompt off"} : Log{});

  // The device's announcement now finds nothing waiting for it.
  line.DeviceSends({0x55, 0xAA});
  line.Deliver(engine);
  EXPECT_TRUE(line.packets.empty());
  EXPECT_EQ(log, c.earlierStart ? Log{"prompt off"} : Log{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedStartTest,
    ::testing::Values(FailedStartCase{"MissingHexWhileWaiting", true, false},
                      FailedStartCase{"BrokenHexWhileWaiting", true, true},
                      FailedStartCase{"MissingHexFirstStart", false, false},
                      FailedStartCase{"BrokenHexFirstStart", false, true},
                      FailedStartCase{"CancelledWhileWaiting", true, false, true},
                      FailedStartCase{"CheckedBadChecksumWhileWaiting", true, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteFailureCase {
  const char* name;
  std::size_t packet;  // the write that fails
  TTransferState state;
};

class WriteFailureTest : public EngineTest,
                         public ::testing::WithParamInterface<WriteFailureCase> {};

// The transport's error leaves the receive handler; the rest of that notification
// is lost and the engine stays in the state it had just entered.
TEST_P(WriteFailureTest, PropagatesAndDropsTheRestOfTheNotification) {
  const WriteFailureCase& c = GetParam();
  const Bytes image = Pattern(600);
  engine.Start(WriteHex(image), Folder());
  line.failWriteAt = static_cast<int>(c.packet);
  // The reply that provokes the failing write comes with bytes that, if handled,
  // would pass for the next packet's echo and its acknowledgement.
  const Bytes trailer{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  if (c.packet == 0) {
    Bytes first{0x55};
    first.insert(first.end(), trailer.begin(), trailer.end());
    line.DeviceSends(first);
  } else {
    const std::vector<Bytes> expected = ExpectedPackets(image);
    const Bytes& before = expected[c.packet - 1];
    Bytes reply{before[0] == 0x22 ? enginetest::Sum(before.data() + 3, 128) : std::uint8_t{0xAA}};
    reply.insert(reply.end(), trailer.begin(), trailer.end());
    line.replyOverride[c.packet - 1] = reply;
    line.DeviceSends({0x55});
  }
  try {
    line.Deliver(engine);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
  }
  EXPECT_EQ(line.packets.size(), c.packet);
  EXPECT_EQ(engine.TransferState(), c.state);
  EXPECT_TRUE(line.waiting.empty());
  EXPECT_EQ(std::count(log.begin(), log.end(), kErrorMessage), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, WriteFailureTest,
    ::testing::Values(WriteFailureCase{"Handshake", 0, engine::tsAwaitHandshakeAck},
                      WriteFailureCase{"PageCommand", 1, engine::tsAwaitPageAck},
                      WriteFailureCase{"DataBlock", 2, engine::tsAwaitBlockSum},
                      WriteFailureCase{"Finish", 8, engine::tsIdle}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, ReadFailurePropagatesAndChangesNothing) {
  engine.Start(WriteHex(Pattern(600)), Folder());
  line.failRead = true;
  line.DeviceSends({0x55});
  EXPECT_THROW(line.Deliver(engine), std::runtime_error);
  EXPECT_EQ(engine.TransferState(), engine::tsAwaitDevice);
  EXPECT_TRUE(line.packets.empty());
}

// The image is what the file held when Start opened it; a file cut short meanwhile
// must not pass for a complete image.
TEST_F(EngineTest, ImageCutShortDuringTransferIsAReadError) {
  engine.SetImageCopyLimit(0);  // read from the file as it is sent
  engine.Start(WriteHex(Pattern(600)), Folder());
  std::error_code ec;
  fs::resize_file(dir_ / "fw.BIN", 100, ec);
  if (ec) GTEST_SKIP() << "the image is held unshared: " << ec.message();
  log.clear();
  line.DeviceSends({0x55});
  try {
    line.Deliver(engine);
    FAIL() << "no error";
  } catch (const engine::EImageReadError& e) {
    EXPECT_EQ(e.what(), "Cannot read file \"" + (dir_ / "fw.BIN").string() + "\". " +
                            platform::SystemErrorText(platform::kSizeChanged));
  }
  EXPECT_EQ(line.packets.size(), 2u);  // handshake and page command; no block
  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  EXPECT_EQ(engine.Outcome(), TOutcome::ocAbandoned);
  EXPECT_FALSE(engine.HasImage());
  EXPECT_EQ(log.back(), "prompt off");
}

// The bytes sent are the bytes converted: a copy taken at the start sends them whatever
// happens to the file; an image read as it is sent is checked against the conversion's
// CRC-32 at its end, before the finish; a change before the start is refused.
TEST_F(EngineTest, ImageRewrittenAtTheSameSizeIsNeverSentAsConverted) {
  const Bytes image = Pattern(600);
  const std::string changed = "Cannot read file \"" + (dir_ / "fw.BIN").string() + "\". " +
                              platform::SystemErrorText(platform::kContentChanged);
  const struct {
    std::uint64_t copyLimit;
    bool beforeStart;
    bool finishes;
  } cases[] = {
      {engine::TImageFile::kCopyLimit, false, true}, {0, false, false}, {1024, true, false}};
  for (const auto& c : cases) {
    Log caseLog;
    enginetest::FakeControls caseControls{caseLog};
    enginetest::FakeLine caseLine{caseLog};
    TTransferEngine caseEngine{caseLine, caseControls};
    caseEngine.SetImageCopyLimit(c.copyLimit);
    const oh2b::TConvertedImage converted = oh2b::ConvertHex(WriteHex(image), Folder());
    if (!c.beforeStart) caseEngine.StartConverted(converted);
    try {
      testsupport::WriteFile(dir_ / "fw.BIN", std::string(image.rbegin(), image.rend()));
    } catch (const std::exception&) {
      EXPECT_EQ(c.copyLimit, 0u);  // Windows: the file read as it is sent is held unshared
      continue;
    }
    caseLine.DeviceSends({0x55});
    try {
      if (c.beforeStart) caseEngine.StartConverted(converted);
      caseLine.Deliver(caseEngine);
      EXPECT_TRUE(c.finishes) << "no error";
    } catch (const engine::EImageReadError& e) {
      EXPECT_FALSE(c.finishes);
      EXPECT_EQ(e.what(), changed);
    }
    EXPECT_EQ(caseEngine.Outcome() == TOutcome::ocFinished, c.finishes) << c.copyLimit;
    Bytes sent;
    for (const Bytes& p : caseLine.packets) {
      if (p.size() == 131) sent.insert(sent.end(), p.begin() + 3, p.end());
    }
    if (c.finishes) {
      EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 600), image);
    }
  }
}

TEST_F(EngineTest, ReleasingTheImageEndsATransfer) {
  engine.Start(WriteHex(Pattern(600)), Folder());
  line.replyOverride[1] = {};  // the page command's answer is late
  line.DeviceSends({0x55});
  line.Deliver(engine);
  ASSERT_EQ(engine.TransferState(), engine::tsAwaitPageAck);
  engine.ReleaseImage();
  EXPECT_FALSE(engine.HasImage());
  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  line.DeviceSends({0xAA});
  line.Deliver(engine);
  EXPECT_EQ(line.packets.size(), 2u);  // no block read from a released image
}

TEST_F(EngineTest, ResetMakesTheEngineIdle) {
  engine.Start(WriteHex(Pattern(600)), Folder());
  engine.Reset();
  EXPECT_EQ(engine.TransferState(), engine::tsIdle);
  line.DeviceSends({0x55});
  line.Deliver(engine);
  EXPECT_TRUE(line.packets.empty());
}

TEST_F(EngineTest, StartClearsTheOutcomeOfAnErrorStop) {
  engine.Start(WriteHex(Pattern(600)), Folder());
  line.DeviceSends({0x12});
  line.Deliver(engine);
  ASSERT_EQ(engine.Outcome(), TOutcome::ocErrorStop);
  engine.Start(WriteHex(Pattern(600)), Folder());
  EXPECT_EQ(engine.Outcome(), TOutcome::ocNone);
  EXPECT_TRUE(engine.HasImage());
}

}  // namespace

namespace {

class ImageFileTest : public EngineTest {};

TEST_F(ImageFileTest, ReadsToTheEndThenComesUpShort) {
  std::ofstream("img.BIN", std::ios::binary) << std::string(200, '\x5A');
  engine::TImageFile file;
  ASSERT_EQ(file.Open("img.BIN"), 0u);
  EXPECT_EQ(file.Size(), 200u);
  Bytes buffer(128);
  engine::TImageFile::ErrorCode error = 1;
  EXPECT_EQ(file.Read(buffer.data(), 128, error), 128u);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(file.Read(buffer.data(), 128, error), 72u);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(file.Read(buffer.data(), 128, error), 0u);
  EXPECT_EQ(error, 0u);  // the end of the file is no error
  EXPECT_EQ(buffer[0], 0x5A);
}

// A read that fails is told apart from the end of the image, so a transfer cannot
// finish on a block of zeros that stand for unreadable data.
TEST_F(ImageFileTest, ReadErrorIsReportedNotTakenForTheEnd) {
  engine::TImageFile file;
  // The process's own memory opens as a file, but reading its address 0 fails.
  if (file.Open("/proc/self/mem") != 0) GTEST_SKIP() << "no /proc/self/mem";
  Bytes buffer(128);
  engine::TImageFile::ErrorCode error = 0;
  EXPECT_EQ(file.Read(buffer.data(), 128, error), 0u);
  EXPECT_NE(error, 0u);
}

// A file whose size differs from what it had at Open is no longer the image.
TEST_F(ImageFileTest, SizeChangedAfterOpenIsAnError) {
  struct {
    const char* name;
    std::uintmax_t newSize;
    std::size_t secondRead;  // what the second read of 128 returns
  } const cases[] = {{"CutShort", 100, 0}, {"CutAtBlockEnd", 128, 0}, {"Grown", 300, 72}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::WriteFile("img.BIN", std::string(200, '\x5A'));
    engine::TImageFile file;
    ASSERT_EQ(file.Open("img.BIN"), 0u);
    std::error_code ec;
    fs::resize_file("img.BIN", c.newSize, ec);
    if (ec) GTEST_SKIP() << "the image is held unshared: " << ec.message();
    EXPECT_EQ(file.Size(), 200u);
    Bytes buffer(128);
    engine::TImageFile::ErrorCode error = 0;
    const std::size_t first = file.Read(buffer.data(), 128, error);
    if (c.newSize < 128) {
      EXPECT_EQ(first, c.newSize);
      EXPECT_EQ(error, platform::kSizeChanged);
      continue;
    }
    EXPECT_EQ(first, 128u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(file.Read(buffer.data(), 128, error), c.secondRead);
    EXPECT_EQ(error, platform::kSizeChanged);
  }
}

TEST_F(ImageFileTest, MissingFilesAndFoldersDoNotOpen) {
  engine::TImageFile file;
  EXPECT_EQ(file.Open("missing.BIN"), engine::TImageFile::NotFound());
  fs::create_directory("folder.BIN");
  EXPECT_NE(file.Open("folder.BIN"), 0u);
}

}  // namespace
