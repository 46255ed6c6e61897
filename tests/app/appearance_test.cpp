// The program's look: hint timing and colours, and the tool bar's pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QStyle>
#include <QToolTip>

#include "app/image_list.h"

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

}  // namespace
