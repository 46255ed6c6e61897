// The serial port component with its threads on the Windows device layer, against a real
// COM port whose other end echoes (see ser_device_wine_test.cpp for the set-up).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ser_rig.h"
#include "serial/ser_comm.h"
#include "serial/ser_pump.h"

namespace serial {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using testsupport::WineEchoPort;

// The component on a Wine COM port, on the shared rig, recording what it reads.
struct Rig : testsupport::TSerRig {
  TSerComm comm;
  std::string received;
  std::vector<std::int32_t> counts;

  Rig() {
    ApplyLoaderSettings(comm);
    Attach(comm);
    comm.SetOnRxChar([this](TSerCustomComm& sender, std::int32_t count) {
      counts.push_back(count);
      std::string buf(static_cast<std::size_t>(count), '\0');
      const std::int32_t got = sender.ReadData(buf.data(), count);
      received.append(buf, 0, static_cast<std::size_t>(got));
    });
  }
  ~Rig() {
    comm.Close();
    sync.Shutdown();
  }
  // Runs the hand-offs for a while, so whatever an earlier test left on the line is read.
  void Drain() {
    PumpFor(300ms);
    received.clear();
    counts.clear();
  }
};

TEST(SerCommWine, MissingPortIsNotFound) {
  Rig r;
  r.comm.SetDeviceName("COM219");
  try {
    r.comm.Open();
    FAIL() << "no exception";
  } catch (const ESerCommError& e) {
    EXPECT_STREQ(e.what(), "Specified device not found (COM219).");
  }
  EXPECT_FALSE(r.comm.IsOpen());
}

TEST(SerCommWine, QueuedBytesComeBackThroughOnRxChar) {
  if (WineEchoPort().empty()) GTEST_SKIP() << "LOADER_WINE_ECHO_PORT is not set";
  Rig r;
  r.comm.SetDeviceName(WineEchoPort());
  r.comm.Open();
  r.Drain();

  std::string sent;
  for (int i = 0; i < 20; ++i) {
    const std::string packet = "packet " + std::to_string(i) + ";";
    ASSERT_EQ(r.comm.WriteData(packet.data(), static_cast<std::int32_t>(packet.size())),
              static_cast<std::int32_t>(packet.size()));
    sent += packet;
  }
  ASSERT_TRUE(r.PumpUntil([&] { return r.received.size() >= sent.size(); })) << r.received;
  EXPECT_EQ(r.received, sent);
  for (std::int32_t n : r.counts) EXPECT_GT(n, 0);
  EXPECT_TRUE(r.shown.empty()) << r.shown.front();
}

TEST(SerCommWine, CloseWithThreadsRunningReturnsAndTheLineCanBeOpenedAgain) {
  if (WineEchoPort().empty()) GTEST_SKIP() << "LOADER_WINE_ECHO_PORT is not set";
  Rig r;
  r.comm.SetDeviceName(WineEchoPort());
  for (int round = 0; round < 3; ++round) {
    r.comm.Open();
    ASSERT_TRUE(r.comm.IsOpen());
    r.comm.WriteData("x", 1);
    const auto t0 = Clock::now();
    r.comm.Close();
    EXPECT_LT(Clock::now() - t0, 2s);
    EXPECT_FALSE(r.comm.IsOpen());
  }
  r.comm.Open();
  r.received.clear();
  r.comm.WriteData("after", 5);
  ASSERT_TRUE(r.PumpUntil([&] { return r.received.find("after") != std::string::npos; }));
}

// A device switched on before the port was opened: its announcement waits in the queue, and
// no further byte will come to bring it to notice.
TEST(SerCommWine, BytesQueuedBeforeTheOpenReachOnRxChar) {
  if (WineEchoPort().empty()) GTEST_SKIP() << "LOADER_WINE_ECHO_PORT is not set";
  auto device = CreateSerDevice();
  ASSERT_EQ(device->Open(WineEchoPort()), kSerOk);
  std::int32_t put = 0;
  ASSERT_EQ(device->Write("\x55", 1, 1000, put), kSerOk);
  TSerStatus status;
  for (int i = 0; i < 200 && status.InQueue == 0; ++i) {
    std::this_thread::sleep_for(10ms);
    ASSERT_EQ(device->ReadStatus(status), kSerOk);
  }
  device->Close();  // the echo stays queued on the line
  Rig r;
  r.comm.SetDeviceName(WineEchoPort());
  r.comm.Open();
  EXPECT_TRUE(r.PumpUntil([&] { return !r.received.empty() && r.received.back() == '\x55'; }));
}

TEST(SerCommWine, ReadWithNothingWaitingTimesOutWithZero) {
  if (WineEchoPort().empty()) GTEST_SKIP() << "LOADER_WINE_ECHO_PORT is not set";
  Rig r;
  r.comm.SetDeviceName(WineEchoPort());
  r.comm.Buffers().SetReadTimeout(100);
  r.comm.Open();
  r.Drain();
  char buf[8];
  const auto t0 = Clock::now();
  EXPECT_EQ(r.comm.ReadData(buf, 8), 0);
  EXPECT_GE(Clock::now() - t0, 90ms);
}

}  // namespace
}  // namespace serial
