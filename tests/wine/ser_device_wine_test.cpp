// The Windows serial device layer against a real COM port. Run by scripts/wine-tests.sh
// under Wine, with LOADER_WINE_ECHO_PORT naming a COM port whose other end sends back
// every byte it receives (tests/wine/pty_echo.c on a pseudo-terminal).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ser_rig.h"
#include "serial/ser_platform.h"

namespace serial {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using testsupport::WineEchoPort;

TSerDcb LoaderDcb() {
  TSerDcb dcb;
  dcb.BaudRate = 10400;
  dcb.Flags = SerDcbFlag::fBinary;
  dcb.XonLim = 1024;
  dcb.XoffLim = 1024;
  dcb.ByteSize = 8;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

class SerDeviceWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (WineEchoPort().empty()) GTEST_SKIP() << "LOADER_WINE_ECHO_PORT is not set";
    dev_ = CreateSerDevice();
    ASSERT_EQ(dev_->Open(WineEchoPort()), kSerOk);
    ASSERT_EQ(dev_->ApplyDcb(LoaderDcb()), kSerOk);
    ASSERT_EQ(dev_->SetupQueues(4096, 2048), kSerOk);
    ASSERT_EQ(dev_->SetTimeouts(5), kSerOk);
    ASSERT_EQ(dev_->SetEventMask(SerEv::RxChar | SerEv::Err), kSerOk);
    Drain();
  }
  void TearDown() override {
    if (dev_) dev_->Close();
  }

  // Reads whatever an earlier test left on the line.
  void Drain() {
    char buf[256];
    std::int32_t got = 0;
    do {
      ASSERT_EQ(dev_->Read(buf, sizeof buf, 50, got), kSerOk);
    } while (got > 0);
  }

  void Send(const std::string& bytes) {
    std::int32_t put = 0;
    ASSERT_EQ(dev_->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()), 1000, put),
              kSerOk);
    ASSERT_EQ(put, static_cast<std::int32_t>(bytes.size()));
  }

  // Waits for received-character events until `n` bytes are queued (or 2 s pass).
  std::uint32_t WaitForQueued(std::uint32_t n) {
    const auto deadline = Clock::now() + 2s;
    TSerStatus st;
    while (Clock::now() < deadline) {
      EXPECT_EQ(dev_->ReadStatus(st), kSerOk);
      if (st.InQueue >= n) break;
      std::uint32_t ev = 0;
      EXPECT_EQ(dev_->WaitEvent(ev), kSerOk);
    }
    return st.InQueue;
  }

  std::shared_ptr<TSerDevice> dev_;
};

TEST(SerDeviceWineNoPort, MissingPortIsReportedAsNotFoundWithTrimmedText) {
  auto dev = CreateSerDevice();
  int rc = dev->Open("COM219");
  ASSERT_NE(rc, kSerOk);
  EXPECT_TRUE(SerIsNotFound(rc)) << rc;
  std::string text = SerSystemErrorText(rc);
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), 256u);
  EXPECT_NE(text.back(), '.');
  EXPECT_GT(static_cast<unsigned char>(text.back()), ' ');
}

TEST(SerDeviceWineNoPort, CallsOnAClosedDeviceAreCancelled) {
  auto dev = CreateSerDevice();
  char buf[4];
  std::int32_t n = 7;
  std::uint32_t ev = 7;
  TSerStatus st;
  EXPECT_EQ(dev->Read(buf, 4, 10, n), kSerCancelled);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(dev->Write(buf, 4, 10, n), kSerCancelled);
  EXPECT_EQ(dev->WaitEvent(ev), kSerCancelled);
  EXPECT_EQ(ev, 0u);
  EXPECT_EQ(dev->ReadStatus(st), kSerCancelled);
  EXPECT_EQ(dev->ApplyDcb(LoaderDcb()), kSerCancelled);
  dev->Close();  // harmless on a closed device
}

TEST(SerDeviceWineNoPort, UnknownCodeHasEmptyText) {
  EXPECT_EQ(SerSystemErrorText(0x7fff1234), "");
}

TEST_F(SerDeviceWine, EchoIsReportedAsReceivedCharactersWithTheExactQueueCount) {
  Send("hello");
  ASSERT_EQ(WaitForQueued(5), 5u);
  char buf[16] = {};
  std::int32_t got = 0;
  ASSERT_EQ(dev_->Read(buf, 5, 1000, got), kSerOk);
  ASSERT_EQ(got, 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  TSerStatus st;
  ASSERT_EQ(dev_->ReadStatus(st), kSerOk);
  EXPECT_EQ(st.InQueue, 0u);
  EXPECT_EQ(st.Errors, 0u);
}

TEST_F(SerDeviceWine, WaitReportsReceivedCharacterBit) {
  Send("x");
  std::uint32_t ev = 0;
  const auto deadline = Clock::now() + 2s;
  while (!(ev & SerEv::RxChar) && Clock::now() < deadline) ASSERT_EQ(dev_->WaitEvent(ev), kSerOk);
  EXPECT_TRUE(ev & SerEv::RxChar);
}

TEST_F(SerDeviceWine, ReadOfMoreThanWaitingEndsAfterTheInterByteGap) {
  Send("abc");
  ASSERT_EQ(WaitForQueued(3), 3u);
  char buf[64];
  std::int32_t got = 0;
  const auto t0 = Clock::now();
  ASSERT_EQ(dev_->Read(buf, sizeof buf, 1000, got), kSerOk);
  EXPECT_EQ(got, 3);
  EXPECT_LT(Clock::now() - t0, 900ms);
}

TEST_F(SerDeviceWine, AbandonedReadNeverWritesIntoTheBufferLater) {
  char buf[8];
  std::memset(buf, '-', sizeof buf);
  std::int32_t got = 9;
  const auto t0 = Clock::now();
  ASSERT_EQ(dev_->Read(buf, sizeof buf, 100, got), kSerOk);
  EXPECT_EQ(got, 0);
  EXPECT_GE(Clock::now() - t0, 90ms);
  // Bytes that arrive now belong to the next read, not to the abandoned one.
  Send("Z");
  ASSERT_EQ(WaitForQueued(1), 1u);
  EXPECT_EQ(std::string(buf, sizeof buf), "--------");
  char next[4] = {};
  ASSERT_EQ(dev_->Read(next, 4, 1000, got), kSerOk);
  EXPECT_EQ(got, 1);
  EXPECT_EQ(next[0], 'Z');
}

TEST_F(SerDeviceWine, WakeEndsAPendingWaitAndIsNotAnError) {
  std::atomic<int> rc{1000};
  std::thread waiter([&] {
    std::uint32_t ev = 0;
    rc = dev_->WaitEvent(ev);
  });
  std::this_thread::sleep_for(100ms);
  dev_->WakeWait();
  waiter.join();
  EXPECT_EQ(rc.load(), kSerCancelled);
  // The wake is used up: the next wait reports the line again.
  Send("w");
  EXPECT_EQ(WaitForQueued(1), 1u);
}

TEST_F(SerDeviceWine, WakeBeforeTheWaitEndsTheNextWait) {
  dev_->WakeWait();
  std::uint32_t ev = 5;
  EXPECT_EQ(dev_->WaitEvent(ev), kSerCancelled);
  EXPECT_EQ(ev, 0u);
}

TEST_F(SerDeviceWine, CloseEndsAPendingWaitAndLaterCallsAreCancelled) {
  std::atomic<int> rc{1000};
  std::thread waiter([&] {
    std::uint32_t ev = 0;
    rc = dev_->WaitEvent(ev);
  });
  std::this_thread::sleep_for(100ms);
  const auto t0 = Clock::now();
  dev_->Close();
  waiter.join();
  EXPECT_LT(Clock::now() - t0, 1s);
  EXPECT_EQ(rc.load(), kSerCancelled);
  std::uint32_t ev = 0;
  EXPECT_EQ(dev_->WaitEvent(ev), kSerCancelled);
}

TEST_F(SerDeviceWine, ReopenAfterCloseWorks) {
  dev_->Close();
  ASSERT_EQ(dev_->Open(WineEchoPort()), kSerOk);
  ASSERT_EQ(dev_->SetEventMask(SerEv::RxChar), kSerOk);
  ASSERT_EQ(dev_->SetTimeouts(5), kSerOk);
  Send("again");
  EXPECT_EQ(WaitForQueued(5), 5u);
}

TEST_F(SerDeviceWine, SecondOpenOfAnOpenDeviceObjectIsRefused) {
  EXPECT_NE(dev_->Open(WineEchoPort()), kSerOk);
  // The first opening is untouched.
  Send("k");
  EXPECT_EQ(WaitForQueued(1), 1u);
}

}  // namespace
}  // namespace serial
