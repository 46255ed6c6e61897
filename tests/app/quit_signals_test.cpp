// The system's requests to end, turned into a call on the user-interface thread.
#include "app/quit_signals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QThread>

#include "window_test_support.h"

namespace {

// Each signal runs the quit call once, from the event loop on this thread, and tells a
// conversion in progress to stop.
TEST(QuitSignals, TermAndHangUpQuitOnTheUiThread) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    int calls = 0;
    bool onUiThread = false;
    QThread* ui = QThread::currentThread();
    app::TQuitSignals quit([&] {
      ++calls;
      onUiThread = QThread::currentThread() == ui;
    });
    EXPECT_FALSE(app::TQuitSignals::Requested());
    ASSERT_EQ(::raise(signal), 0);
    EXPECT_TRUE(app::TQuitSignals::Requested());
    ASSERT_TRUE(apptest::WaitFor([&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onUiThread);
  }
}

}  // namespace
