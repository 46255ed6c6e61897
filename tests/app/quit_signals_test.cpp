#include "app/quit_signals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QThread>

#include "window_test_support.h"

// Each signal runs the quit call once, on this thread from the event loop, and tells a
// conversion in progress to stop.
TEST(QuitSignals, TermAndHangUpQuitOnTheUiThread) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    int calls = 0;
    bool onUiThread = false;
    app::TQuitSignals quit(
        [&] { onUiThread = ++calls == 1 && QThread::currentThread() == qApp->thread(); });
    EXPECT_FALSE(app::TQuitSignals::Requested());
    ASSERT_EQ(::raise(signal), 0);
    EXPECT_TRUE(app::TQuitSignals::Requested());
    ASSERT_TRUE(apptest::WaitFor([&] { return calls > 0; })) << signal;
    EXPECT_TRUE(onUiThread) << signal;
  }
}
