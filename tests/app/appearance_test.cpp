// The program's look: its hints, the tool bar's pictures and the program's icon.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QStyle>
#include <QToolTip>

#include "app/image_list.h"

namespace {

// The application object gives every window the program's hints (their timing and colours
// are the hint control's own tests).
TEST(ProgramLook, ApplicationShowsBalloonHints) {
  EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
  EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0xFF, 0xFF, 0xE1));
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
