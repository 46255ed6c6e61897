// The synchronizer that the command line and the tests pump.
#include "serial/ser_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "handoff_contract.h"

namespace serial {
namespace {

using namespace std::chrono_literals;

TEST(SerPump, RunsQueuedCallsOnThePumpingThreadInOrder) {
  TSerPumpSynchronizer sync;
  std::vector<int> order;
  std::vector<std::thread::id> where;
  std::atomic<int> returned{0};
  std::thread a([&] {
    for (int i = 0; i < 3; ++i) {
      sync.Synchronize([&, i] {
        order.push_back(i);
        where.push_back(std::this_thread::get_id());
      });
    }
    ++returned;
  });
  while (returned == 0) sync.Pump(10ms);
  a.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  for (auto id : where) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(SerPump, PumpWithNothingQueuedTimesOut) {
  TSerPumpSynchronizer sync;
  EXPECT_FALSE(sync.Pump(5ms));
  EXPECT_FALSE(sync.Pump(0ms));
}

TEST(SerPump, CallerBlocksUntilItsCallHasRun) {
  TSerPumpSynchronizer sync;
  std::atomic<bool> ran{false}, back{false};
  std::thread t([&] {
    sync.Synchronize([&] { ran = true; });
    back = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(back);
  EXPECT_TRUE(sync.Pump(2s));
  t.join();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(back);
}

TEST(SerPump, ShutdownReleasesBlockedAndLaterCallers) {
  TSerPumpSynchronizer sync;
  std::atomic<int> ran{0};
  std::thread t([&] { sync.Synchronize([&] { ++ran; }); });
  std::this_thread::sleep_for(20ms);
  sync.Shutdown();
  t.join();
  sync.Synchronize([&] { ++ran; });
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(sync.IsShutDown());
  EXPECT_FALSE(sync.Pump(5ms));
}

TEST(SerPump, NestedPumpAndCallsFromThePumpingThread) {
  TSerPumpSynchronizer sync;
  std::vector<int> order;
  std::atomic<int> done{0};
  std::thread t([&] {
    sync.Synchronize([&] {
      order.push_back(1);
      // Inside a call: a nested loop (a modal box) serves the others.
      sync.Synchronize([&] { order.push_back(2); });  // same thread: runs at once
      while (done < 1) sync.Pump(5ms);
      order.push_back(4);
    });
    ++done;
  });
  std::thread u([&] {
    std::this_thread::sleep_for(30ms);
    sync.Synchronize([&] { order.push_back(3); });
    ++done;
  });
  while (done < 2) sync.Pump(5ms);
  t.join();
  u.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(SerPump, ExceptionFromACallReachesThePumpAfterReleasingTheCaller) {
  TSerPumpSynchronizer sync;
  std::thread t([&] { sync.Synchronize([] { throw std::runtime_error("x"); }); });
  bool thrown = false;
  while (!thrown) {
    try {
      sync.Pump(10ms);
    } catch (const std::runtime_error&) {
      thrown = true;
    }
  }
  t.join();
}

struct TPumpTraits {
  using TSync = TSerPumpSynchronizer;
  static std::unique_ptr<TSync> Make() { return std::make_unique<TSync>(); }
  static bool ServeUntil(TSync& sync, const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    do {
      sync.Pump(0ms);
      if (done()) return true;
      sync.Pump(5ms);
    } while (std::chrono::steady_clock::now() < until);
    return done();
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Pump, HandOffContractTest, TPumpTraits);

}  // namespace
}  // namespace serial
