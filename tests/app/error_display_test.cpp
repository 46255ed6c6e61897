// The default error display: exceptions that leave a handler are shown and the
// program goes on; the silent abort shows nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <stdexcept>

#include "app/app_error.h"
#include "window_test_support.h"

namespace {

using apptest::TModalDriver;
using apptest::WaitFor;

struct TFullStopCase {
  const char* message;
  const char* shown;
};

class ErrorBoxTextTest : public ::testing::TestWithParam<TFullStopCase> {};

TEST_P(ErrorBoxTextTest, AppendsFullStopByLastByte) {
  EXPECT_EQ(app::ErrorBoxText(GetParam().message), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    LastByte, ErrorBoxTextTest,
    ::testing::Values(
        TFullStopCase{"Unable to write to x.ini", "Unable to write to x.ini."},
        TFullStopCase{"Specified device not found (COM7).", "Specified device not found (COM7)."},
        TFullStopCase{"Stopped!", "Stopped!"},        // '!' sorts below '.'
        TFullStopCase{"port (COM3)", "port (COM3)"},  // ')' too
        TFullStopCase{"dash-", "dash-"},              // '-' is 0x2D, just below
        TFullStopCase{"slash/", "slash/."},           // '/' is 0x2F, just above
        TFullStopCase{"ends in space ", "ends in space "},
        TFullStopCase{"Ошибка ответа", "Ошибка ответа."},  // UTF-8 bytes sort above '.'
        TFullStopCase{"", ""}));

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

TEST(DefaultErrorDisplay, ShowsErrorLeavingHandlerAndGoesOn) {
  TModalDriver driver;
  bool after = false;
  RunAsHandler([&] {
    throw std::runtime_error("Cannot open file \"/x/y.BIN\". No such file or directory");
    after = true;  // skipped
  });
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == 1; }));
  const apptest::TSeenModal& box = driver.Seen.front();
  EXPECT_EQ(box.title, QString::fromUtf8("Загрузчик"));
  EXPECT_EQ(box.text, "Cannot open file \"/x/y.BIN\". No such file or directory.");
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_FALSE(after);

  // The program goes on: the next handler runs normally.
  bool ran = false;
  RunAsHandler([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(driver.Count("box"), 1);
}

TEST(DefaultErrorDisplay, TextEndingAtOrBelowFullStopIsShownAsIs) {
  TModalDriver driver;
  RunAsHandler([] { throw std::runtime_error("Specified device not found (COM7)."); });
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == 1; }));
  EXPECT_EQ(driver.Seen.front().text, "Specified device not found (COM7).");
}

TEST(DefaultErrorDisplay, SilentAbortShowsNothing) {
  TModalDriver driver;
  bool reached = false;
  RunAsHandler([&] {
    reached = true;
    throw app::EAbort();
  });
  apptest::Spin(std::chrono::milliseconds(50));
  EXPECT_TRUE(reached);
  EXPECT_TRUE(driver.Seen.empty());
}

TEST(DefaultErrorDisplay, RunHandlerShowsErrorAndReturns) {
  TModalDriver driver;
  bool returned = false;
  QTimer::singleShot(0, [&] {
    app::RunHandler([] { throw std::runtime_error("Unable to write to /ro/loader.ini"); });
    returned = true;
  });
  ASSERT_TRUE(WaitFor([&] { return returned; }));
  ASSERT_EQ(driver.Count("box"), 1);
  EXPECT_EQ(driver.Seen[0].text, "Unable to write to /ro/loader.ini.");
  EXPECT_EQ(driver.Seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(driver.Seen[0].title, QString::fromUtf8("Загрузчик"));

  driver.Seen.clear();
  app::RunHandler([] { throw app::EAbort(); });
  EXPECT_TRUE(driver.Seen.empty());
}

TEST(DefaultErrorDisplay, ShowExceptionIgnoresAbortDirectly) {
  TModalDriver driver;
  app::ShowException(app::EAbort());
  EXPECT_TRUE(driver.Seen.empty());
}

}  // namespace
