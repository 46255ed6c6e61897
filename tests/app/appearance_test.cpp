// The program's look: hint timing and colours, and the tool bar's pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QImage>
#include <QStyle>
#include <QToolTip>

#include "app/image_list.h"
#include "app/loader_application.h"
#include "window_test_support.h"

namespace {

TEST(BalloonHints, FirstHintAfterHalfASecondInInfoColour) {
  QStyle* style = QApplication::style();
  EXPECT_EQ(style->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
  EXPECT_GT(style->styleHint(QStyle::SH_ToolTip_FallAsleepDelay), 0);
  EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0xFF, 0xFF, 0xE1));
  EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipText), QColor(Qt::black));
}

TEST(ImageList, FourDistinctSixteenPixelPictures) {
  std::vector<QImage> images;
  for (int i = 0; i < app::imCount; ++i) {
    const QPixmap pixmap = app::ImageListPixmap(i);
    ASSERT_FALSE(pixmap.isNull()) << i;
    EXPECT_EQ(pixmap.size(), QSize(16, 16)) << i;
    QImage image = pixmap.toImage();
    // Something is drawn, and the corners stay see-through.
    int opaque = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) opaque += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    EXPECT_GT(opaque, 30) << i;
    EXPECT_LT(opaque, 256) << i;
    for (const QImage& earlier : images) EXPECT_NE(image, earlier) << i;
    images.push_back(image);
  }
  EXPECT_TRUE(app::ImageListPixmap(-1).isNull());
  EXPECT_TRUE(app::ImageListPixmap(app::imCount).isNull());
}

// At 200 % scaling the pictures are drawn anew at 32 pixels, not blown up from 16.
TEST(ImageList, DrawnAnewForHighDensityScreens) {
  for (int i = 0; i < app::imCount; ++i) {
    const QImage sharp = app::ImageListPixmap(i, 32).toImage();
    const QImage blown = app::ImageListPixmap(i, 16).toImage().scaled(32, 32);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    EXPECT_NE(sharp, blown) << i;
    EXPECT_EQ(app::ImageListIcon(i).pixmap(QSize(32, 32)).size(), QSize(32, 32)) << i;
  }
  const QIcon program = app::ProgramIcon();
  for (int size : {16, 32, 48, 256})
    EXPECT_EQ(program.pixmap(QSize(size, size)).size(), QSize(size, size));
}

}  // namespace

namespace {

// While a hint shows, the next control's hint is held back until 50 ms have passed
// since the toolkit asked for it (20 ms after the pointer arrived).
TEST(BalloonHints, NextControlsHintFollowsAfterFiftyMilliseconds) {
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
  ASSERT_TRUE(apptest::WaitFor([] { return QToolTip::text() == "second"; },
                               std::chrono::milliseconds(2000)));
  EXPECT_GE(clock.elapsed(),
            app::THintFollowUp::kFollowUpMs - app::THintFollowUp::kToolkitFollowUpMs);
  QToolTip::hideText();
}

}  // namespace
