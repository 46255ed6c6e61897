// What every serial hand-off promises, whatever wakes its serving thread: one typed suite,
// instantiated for the pump (tests/serial), the Qt face's (tests/app) and the Win32 face's
// (tests/wine). A traits type says how to make one and how this thread serves it:
//   using TSync = ...;                                    // a serial::TSerHandOff
//   static std::unique_ptr<TSync> Make();
//   // Serves what is queued on this thread, then more until done() or 5 s; returns done().
//   static bool ServeUntil(TSync& sync, const std::function<bool()>& done);
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace testsupport {

// Blocks until `count` callers wait in the hand-off; false after 5 s.
template <class TSync>
bool AwaitWaiting(const TSync& sync, int count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (sync.Waiting() < count) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace testsupport

// At the global scope, where gtest's instantiation macro finds the suite from any namespace.
template <class TTraits>
class HandOffContractTest : public ::testing::Test {};
TYPED_TEST_SUITE_P(HandOffContractTest);

TYPED_TEST_P(HandOffContractTest, RunsCallsOnTheServingThreadInOrderAndBlocksTheCaller) {
  auto sync = TypeParam::Make();
  const auto serving = std::this_thread::get_id();
  std::vector<int> order;
  std::vector<bool> ranBeforeReturn;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) {
      bool ran = false;
      sync->Synchronize([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), serving);
        order.push_back(i);
        ran = true;
      });
      ranBeforeReturn.push_back(ran);
    }
    finished = true;
  });
  EXPECT_TRUE(TypeParam::ServeUntil(*sync, [&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ranBeforeReturn, (std::vector<bool>{true, true, true}));
}

TYPED_TEST_P(HandOffContractTest, ShutdownReleasesAWaitingCallerUnrunAndLaterOnesReturnAtOnce) {
  auto sync = TypeParam::Make();
  std::atomic<int> runs{0};
  std::thread waiting([&] { sync->Synchronize([&] { ++runs; }); });
  ASSERT_TRUE(testsupport::AwaitWaiting(*sync, 1));
  sync->Shutdown();
  waiting.join();
  std::thread later([&] { sync->Synchronize([&] { ++runs; }); });
  later.join();
  TypeParam::ServeUntil(*sync, [] { return true; });  // whatever is still queued finds nothing
  EXPECT_EQ(runs, 0);
  EXPECT_TRUE(sync->IsShutDown());
  EXPECT_EQ(sync->Waiting(), 0);
}

// The window goes while a serial thread still waits: the thread is released, and the
// destructor returns only once it has left (the sanitizers see any touch of freed memory).
TYPED_TEST_P(HandOffContractTest, DestroyedWhileACallerWaitsReleasesItFirst) {
  auto sync = TypeParam::Make();
  auto* const shared = sync.get();
  std::atomic<int> runs{0};
  std::thread waiting([shared, &runs] { shared->Synchronize([&runs] { ++runs; }); });
  ASSERT_TRUE(testsupport::AwaitWaiting(*sync, 1));
  sync.reset();
  waiting.join();
  EXPECT_EQ(runs, 0);
}

TYPED_TEST_P(HandOffContractTest, ACallHandedOffFromInsideACallRunsAtOnce) {
  auto sync = TypeParam::Make();
  std::vector<int> order;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    sync->Synchronize([&] {
      order.push_back(1);
      sync->Synchronize([&] { order.push_back(2); });  // waiting here would wait for itself
      order.push_back(3);
    });
    finished = true;
  });
  EXPECT_TRUE(TypeParam::ServeUntil(*sync, [&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

// A call may refer to its caller's storage: a shut-down that comes while the call runs
// releases the caller only once the call has finished.
TYPED_TEST_P(HandOffContractTest, ACallerReleasedWhileItsCallRunsWaitsForTheCall) {
  auto sync = TypeParam::Make();
  std::atomic<bool> callFinished{false};
  std::atomic<bool> finishedBeforeReturn{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    sync->Synchronize([&] {
      sync->Shutdown();  // the window closes from inside a handler
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      callFinished = true;
    });
    finishedBeforeReturn = callFinished.load();
    returned = true;
  });
  EXPECT_TRUE(TypeParam::ServeUntil(*sync, [&] { return callFinished.load(); }));
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(finishedBeforeReturn);
}

REGISTER_TYPED_TEST_SUITE_P(HandOffContractTest,
                            RunsCallsOnTheServingThreadInOrderAndBlocksTheCaller,
                            ShutdownReleasesAWaitingCallerUnrunAndLaterOnesReturnAtOnce,
                            DestroyedWhileACallerWaitsReleasesItFirst,
                            ACallHandedOffFromInsideACallRunsAtOnce,
                            ACallerReleasedWhileItsCallRunsWaitsForTheCall);
