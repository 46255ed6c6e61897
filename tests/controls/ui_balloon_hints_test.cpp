// The program's hints: timing and colours, and the follow-up of the next control's hint.
#include "controls/ui_balloon_hints.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QStyle>
#include <QTest>
#include <QToolTip>

namespace controls {
namespace {

class TBalloonHintsTest : public ::testing::Test {
 protected:
  // Once for the program, as the application object does it.
  static void SetUpTestSuite() {
    static const bool installed = (InstallBalloonHints(*qApp), true);
    (void)installed;
  }
};

TEST_F(TBalloonHintsTest, FirstHintAfterHalfASecondInInfoColour) {
  QStyle* style = QApplication::style();
  EXPECT_EQ(style->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
  EXPECT_GT(style->styleHint(QStyle::SH_ToolTip_FallAsleepDelay), 0);
  EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0xFF, 0xFF, 0xE1));
  EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipText), QColor(Qt::black));
}

// While a hint shows, the next control's hint is held back until 50 ms have passed
// since the toolkit asked for it (20 ms after the pointer arrived).
TEST_F(TBalloonHintsTest, NextControlsHintFollowsAfterFiftyMilliseconds) {
  QWidget window;
  QWidget first(&window);
  QWidget second(&window);
  first.setGeometry(0, 0, 40, 20);
  second.setGeometry(50, 0, 40, 20);
  first.setToolTip("first");
  second.setToolTip("second");
  window.show();
  QApplication::processEvents();

  QHelpEvent firstHelp(QEvent::ToolTip, QPoint(5, 5), first.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&first, &firstHelp);  // nothing showing: shown at once
  ASSERT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), "first");

  QElapsedTimer clock;
  clock.start();
  QHelpEvent secondHelp(QEvent::ToolTip, QPoint(5, 5), second.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&second, &secondHelp);
  EXPECT_EQ(QToolTip::text(), "first");  // held back
  ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::text() == "second"; }, 2000));
  EXPECT_GE(clock.elapsed(), THintFollowUp::kFollowUpMs - THintFollowUp::kToolkitFollowUpMs);
  QToolTip::hideText();
}

}  // namespace
}  // namespace controls
