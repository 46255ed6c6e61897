// The hand-off of background reports to the user-interface thread.
#include "app/qt_synchronizer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

#include "handoff_contract.h"
#include "window_test_support.h"

namespace {

using apptest::WaitFor;

TEST(QtSynchronizer, RunsCallsOnUiThreadInOrderAndBlocksCaller) {
  QObject context;
  app::TQtSynchronizer sync(&context);
  std::vector<int> order;  // touched only on the UI thread
  std::vector<bool> onUiThread;
  std::atomic<int> returned{0};
  QThread* ui = QThread::currentThread();

  std::thread worker([&] {
    for (int i = 0; i < 5; ++i) {
      sync.Synchronize([&, i] {
        order.push_back(i);
        onUiThread.push_back(QThread::currentThread() == ui);
      });
      // The call has run by the time Synchronize returns.
      returned.store(i + 1);
    }
  });
  ASSERT_TRUE(WaitFor([&] { return returned.load() == 5; }));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(onUiThread, std::vector<bool>(5, true));
}

TEST(QtSynchronizer, CallerBlocksUntilTheUiThreadRunsTheCall) {
  QObject context;
  app::TQtSynchronizer sync(&context);
  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    sync.Synchronize([&] { ran = true; });
    returned = true;
  });
  // No event processing yet: the call cannot have run, the caller must still wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(returned.load());
  ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(ran.load());
}

TEST(QtSynchronizer, ServedInsideModalMessageBox) {
  QObject context;
  app::TQtSynchronizer sync(&context);
  std::atomic<bool> ranInBox{false};
  std::thread worker;
  QTimer::singleShot(0, [&] {
    QMessageBox box(QMessageBox::NoIcon, "t", "modal");
    QTimer::singleShot(0, [&] {
      worker = std::thread(
          [&] { sync.Synchronize([&] { ranInBox = QApplication::activeModalWidget() == &box; }); });
    });
    // Close the box once the handed-off call has run inside its loop.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (ranInBox.load()) box.done(0);
    });
    poll.start(5);
    QTimer::singleShot(5000, &box, [&] { box.done(0); });  // never hang
    box.exec();
  });
  ASSERT_TRUE(WaitFor([&] { return ranInBox.load(); }));
  apptest::Spin(std::chrono::milliseconds(20));
  worker.join();
}

TEST(QtSynchronizer, ShutdownReleasesBlockedAndLaterCallersWithoutRunning) {
  QObject context;
  app::TQtSynchronizer sync(&context);
  std::atomic<int> ran{0};
  std::atomic<bool> firstReturned{false};
  std::thread blocked([&] {
    sync.Synchronize([&] { ++ran; });
    firstReturned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(firstReturned.load());
  sync.Shutdown();  // the UI thread is closing down and serves nothing any more
  blocked.join();
  EXPECT_TRUE(firstReturned.load());

  std::thread later([&] { sync.Synchronize([&] { ++ran; }); });
  later.join();
  apptest::Spin(std::chrono::milliseconds(20));  // the queued call, if still queued, is dropped
  EXPECT_EQ(ran.load(), 0);
}

TEST(QtSynchronizer, CallFromUiThreadRunsDirectly) {
  QObject context;
  app::TQtSynchronizer sync(&context);
  bool ran = false;
  sync.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

struct TQtTraits {
  using TSync = app::TQtSynchronizer;
  static std::unique_ptr<TSync> Make() { return std::make_unique<TSync>(qApp); }
  static bool ServeUntil(TSync& /*sync*/, const std::function<bool()>& done) {
    QCoreApplication::processEvents();
    return done() || WaitFor(done);
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, HandOffContractTest, TQtTraits);

}  // namespace
