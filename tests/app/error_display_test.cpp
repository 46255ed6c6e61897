// The default error display: exceptions that leave a handler are shown and the
// program goes on; the silent abort shows nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <stdexcept>

#include "app/app_error.h"
#include "engine/transfer_engine.h"
#include "window_test_fixture.h"
#include "window_test_support.h"

namespace {

using apptest::TModalDriver;
using apptest::WaitFor;

// An object whose event handler is the given function.
class THandlerObject : public QObject {
 public:
  static constexpr QEvent::Type kRun = static_cast<QEvent::Type>(QEvent::User + 7);
  std::function<void()> handler;
  bool event(QEvent* event) override {
    if (event->type() != kRun) return QObject::event(event);
    handler();
    return true;
  }
};

// Runs `handler` as an event handler of its own, with nothing catching in between:
// what leaves it reaches the application object.
void RunAsHandler(std::function<void()> handler) {
  THandlerObject target;
  target.handler = std::move(handler);
  QCoreApplication::postEvent(&target, new QEvent(THandlerObject::kRun));
  apptest::Spin(std::chrono::milliseconds(50));
}

class DefaultErrorDisplay : public apptest::WindowTest {
 protected:
  // A window with a port and a file restored, so that its creation shows nothing.
  std::unique_ptr<app::TForm1> Form() {
    ports = {"ttyTEST0"};
    Settings("ttyTEST0", HexFile());
    return Create();
  }
};

// Both the application object (the last resort, for what leaves an event handler) and the
// window's own handler, which its serial hand-off runs calls through, show an error in the
// application's error box and let the program go on; the silent abort shows nothing. The
// box's text follows the window logic's rules.
TEST_F(DefaultErrorDisplay, ShowsErrorLeavingHandlerAndGoesOn) {
  auto form = Form();
  const std::function<void(std::function<void()>)> runners[] = {
      RunAsHandler,
      [&](std::function<void()> handler) { form->Synchronizer().Synchronize(handler); }};
  for (const auto& run : runners) {
    const int boxes = driver.Count("box");
    bool after = false;
    run([&] {
      throw std::runtime_error("Cannot open file \"/x/y.BIN\". No such file or directory");
      after = true;  // skipped
    });
    ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == boxes + 1; }));
    const apptest::TSeenModal& box = driver.Seen.back();
    EXPECT_EQ(box.title, QString::fromUtf8("Загрузчик"));
    EXPECT_EQ(box.text, "Cannot open file \"/x/y.BIN\". No such file or directory.");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_FALSE(after);

    bool reached = false;
    run([&] {
      reached = true;
      throw app::EAbort();
    });
    EXPECT_TRUE(reached);
    EXPECT_EQ(driver.Count("box"), boxes + 1);
  }
}

// What the serial hand-off runs goes through the window logic's one handler: an image that
// cannot be read any more is kept in the status line as well as shown in its box.
TEST_F(DefaultErrorDisplay, HandOffErrorsFollowTheWindowsRules) {
  auto form = Form();
  form->Synchronizer().Synchronize(
      [] { throw engine::EImageReadError("Cannot read file \"/x/fw.BIN\". Gone"); });
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == 1; }));
  EXPECT_EQ(form->StatusText->text(), "Cannot read file \"/x/fw.BIN\". Gone");
}

}  // namespace
