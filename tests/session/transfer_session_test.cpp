// The transfer session over the serial component with a scripted device: the reply limit
// once the handshake has begun, and a port whose device has gone.
#include "session/transfer_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "../engine/engine_fakes.h"
#include "../serial/fake_device.h"
#include "serial/ser_pump.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using serial::test::FakeDevice;

constexpr std::uint32_t kRx = 0x0001;   // received data
constexpr std::uint32_t kErr = 0x0080;  // line trouble

class SessionTest : public ::testing::Test {
 protected:
  testsupport::TTempWorkDir dir;
  std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
  serial::TSerPumpSynchronizer sync;
  serial::TSerComm comm;
  std::vector<std::string> log;
  enginetest::FakeControls controls{log};
  session::TDeadlineTimer timer;
  std::vector<std::string> shown;
  std::vector<std::string> lostPorts;
  session::TTransferSession transfer{comm, controls, timer, [this](const std::exception& e) {
                                       shown.push_back(e.what());
                                       if (auto* lost = dynamic_cast<const session::EPortLost*>(&e))
                                         lostPorts.push_back(lost->Port());
                                     }};

  void SetUp() override {
    serial::ApplyLoaderSettings(comm);
    comm.SetDeviceName("ttyTEST0");
    comm.SetSynchronizer(&sync);
    comm.SetDeviceFactory([this] { return device; });
    testsupport::WriteFile("fw.hex", testsupport::IntelHex(enginetest::Pattern(600)));
    transfer.Start("fw.hex", dir.Path().string());
  }
  void TearDown() override {
    comm.Close();
    sync.Shutdown();
  }
  // Plays an event and serves its hand-off on this thread.
  void Play(std::uint32_t mask, const std::string& bytes = "") {
    device->Event(mask, bytes);
    ASSERT_TRUE(sync.Pump(5s));
  }
  bool Logged(const std::string& entry) const {
    return std::find(log.begin(), log.end(), entry) != log.end();
  }
};

TEST_F(SessionTest, WaitingForTheDeviceHasNoLimit) {
  EXPECT_EQ(transfer.Engine().TransferState(), engine::tsAwaitDevice);
  EXPECT_FALSE(timer.Deadline());
}

TEST_F(SessionTest, EachPacketMustBeAnsweredWithinTheLimit) {
  const auto before = session::TDeadlineTimer::Clock::now();
  Play(kRx, "\x55");  // the announcement: the handshake goes out
  ASSERT_EQ(transfer.Engine().TransferState(), engine::tsAwaitHandshakeAck);
  ASSERT_TRUE(timer.Deadline());
  EXPECT_GE(*timer.Deadline(), before + session::kReplyLimit);
  const auto first = *timer.Deadline();

  Play(kRx, std::string("\x55\x33\xCC", 3));  // only the echo: the clock runs on
  EXPECT_EQ(*timer.Deadline(), first);
  Play(kRx, "\xAA");  // the reply: the page command goes out, with a new limit
  EXPECT_EQ(transfer.Engine().TransferState(), engine::tsAwaitPageAck);
  EXPECT_GT(*timer.Deadline(), first);

  log.clear();
  EXPECT_FALSE(timer.FireIfDue(*timer.Deadline() - 1ms));
  EXPECT_TRUE(timer.FireIfDue(*timer.Deadline()));
  EXPECT_EQ(transfer.Engine().Outcome(), engine::TOutcome::ocNoReply);
  EXPECT_EQ(transfer.Engine().TransferState(), engine::tsIdle);
  EXPECT_TRUE(Logged(std::string("message ") + engine::kNoReplyText));
  EXPECT_TRUE(Logged("controls on"));
  EXPECT_TRUE(Logged("progress off"));
  EXPECT_FALSE(transfer.Engine().HasImage());
  EXPECT_FALSE(timer.Deadline());
}

// The engine tells what became of each byte: noise and repeats of the announcement read
// with it are ignored, and the echo is told apart from the reply even when one read holds
// the end of the one and the start of the other.
TEST_F(SessionTest, ByteObserverSeesSentEchoAndReceived) {
  std::vector<std::string> seen;
  transfer.SetByteObserver(
      [&seen](session::TByteDirection d, const std::uint8_t* bytes, std::size_t n) {
        static const char* const kNames[] = {"sent", "echo", "reply", "ignored"};
        std::string entry = kNames[static_cast<int>(d)];
        for (std::size_t i = 0; i < n; ++i) entry.append(" ").append(std::to_string(bytes[i]));
        seen.push_back(entry);
      });
  Play(kRx, std::string("\x00\x55\x55", 3));
  Play(kRx, "\x55\x33");
  Play(kRx, std::string("\xCC\xAA", 2));
  ASSERT_GE(seen.size(), 7u);
  seen.resize(7);  // then the page command goes out
  EXPECT_EQ(seen, (std::vector<std::string>{"ignored 0", "reply 85", "sent 85 51 204", "ignored 85",
                                            "echo 85 51", "echo 204", "reply 170"}));
}

// More waits than one read takes, and more arrives while it is read: all of it is read in
// the one notification, the announcement at its end included.
TEST_F(SessionTest, ANotificationReadsUntilTheQueueIsEmpty) {
  device->arriveDuringRead = "\x55";
  Play(kRx, std::string(3000, '\0'));
  EXPECT_EQ(transfer.Engine().TransferState(), engine::tsAwaitHandshakeAck);
  EXPECT_TRUE(device->Get(&FakeDevice::input).empty());
}

TEST_F(SessionTest, AWrongReplyStopsTheClock) {
  Play(kRx, "\x55");
  Play(kRx, std::string("\x55\x33\xCC\x01", 4));
  EXPECT_EQ(transfer.Engine().Outcome(), engine::TOutcome::ocErrorStop);
  EXPECT_FALSE(timer.Deadline());
}

// A device that has gone (EIO on the status query, as a pulled adapter or a closed
// pseudo-terminal gives) ends the transfer, closes the port and is reported once.
TEST_F(SessionTest, ALostPortEndsTheTransferAndIsReportedOnceByName) {
  Play(kRx, "\x55");
  ASSERT_TRUE(transfer.Engine().Transferring());
  log.clear();
  device->statusRc = EIO;
  Play(kErr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(lostPorts, std::vector<std::string>{"ttyTEST0"});
  EXPECT_EQ(shown[0].rfind("Потеряна связь с портом ttyTEST0. Error retrieving statistics (5)", 0),
            0u)
      << shown[0];
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(transfer.Engine().TransferState(), engine::tsIdle);
  EXPECT_EQ(transfer.Engine().Outcome(), engine::TOutcome::ocAbandoned);
  EXPECT_FALSE(transfer.Engine().HasImage());
  EXPECT_TRUE(Logged("controls on"));
  EXPECT_TRUE(Logged("prompt off"));
  EXPECT_FALSE(Logged("message " + std::string(engine::kReplyErrorText)));
  EXPECT_FALSE(timer.Deadline());

  // The next start opens the port again (a replugged adapter).
  device->statusRc = 0;
  transfer.Start("fw.hex", dir.Path().string());
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(transfer.Engine().TransferState(), engine::tsAwaitDevice);
}

TEST_F(SessionTest, OtherComponentErrorsPassUnchangedAndKeepThePort) {
  device->statusRc = 13;  // neither a POSIX nor a Windows code of a device that has gone
  Play(kErr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("Error retrieving statistics (13)", 0), 0u) << shown[0];
  EXPECT_TRUE(lostPorts.empty());
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(transfer.Engine().TransferState(), engine::tsAwaitDevice);
}

}  // namespace
