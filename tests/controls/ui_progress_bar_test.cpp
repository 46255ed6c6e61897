#include "controls/ui_progress_bar.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFontMetrics>
#include <QPalette>
#include <QtTest/QTest>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace controls {
namespace {

// Counts paint events, to tell an immediate repaint from a scheduled one.
class CountingBar : public TUiProgressBar {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    TUiProgressBar::paintEvent(event);
  }
};

const QColor kBar(0, 0, 200);
const QColor kBack(255, 255, 255);
const QColor kBorder(192, 192, 192);

// The settings the loader's window gives its bar.
void LoaderLook(TUiProgressBar& bar) {
  bar.SetBorderOuter(fsNone);
  bar.SetBorderWidth(1);
  bar.SetBorderInner(fsStatus);
  bar.SetBarColor(kBar);
  bar.SetBackColor(kBack);
  bar.SetBorderColor(kBorder);
}

int Distance(QRgb pixel, const QColor& color) {
  return std::abs(qRed(pixel) - color.red()) + std::abs(qGreen(pixel) - color.green()) +
         std::abs(qBlue(pixel) - color.blue());
}

bool Is(QRgb pixel, const QColor& color) {
  return Distance(pixel, color) == 0;
}

// A letter pixel of a colour: nearer to it than to the other of the two bar colours.
bool Near(QRgb pixel, const QColor& color, const QColor& other) {
  return Distance(pixel, color) < Distance(pixel, other);
}

// Columns (horizontal) or rows (vertical) the percentage text may touch, with room
// for font differences.
struct Span {
  int from;
  int to;  // exclusive
  bool Contains(int v) const { return v >= from && v < to; }
};

Span TextColumns(const TUiProgressBar& bar, const QString& text) {
  const QRect r = bar.BarRect();
  const int centre = (r.x() + r.width()) / 2;
  const int half = QFontMetrics(bar.font()).horizontalAdvance(text) / 2 + 3;
  return {centre - half, centre + half};
}

Span TextRows(const TUiProgressBar& bar) {
  const QRect r = bar.BarRect();
  const int height = QFontMetrics(bar.font()).height();
  const int top = r.y() + (r.height() - height) / 2;
  return {top - 3, top + height + 3};
}

TEST(UiProgressBar, Defaults) {
  TUiProgressBar bar;
  EXPECT_EQ(bar.size(), QSize(200, 24));
  EXPECT_EQ(bar.TotalParts(), 0u);
  EXPECT_EQ(bar.PartsComplete(), 0u);
  EXPECT_EQ(bar.Percent(), 0u);
  EXPECT_TRUE(bar.ShowPercent());
  EXPECT_EQ(bar.BarStyle(), bsTraditional);
  EXPECT_EQ(bar.Orientation(), orHorizontal);
  EXPECT_EQ(bar.BarColor(), bar.palette().color(QPalette::Highlight));
  EXPECT_EQ(bar.BackColor(), QColor(Qt::white));
  EXPECT_EQ(bar.BorderColor(), bar.palette().color(QPalette::Button));
  EXPECT_EQ(bar.BorderOuter(), fsLowered);
  EXPECT_EQ(bar.BorderWidth(), 0);
  EXPECT_EQ(bar.BorderInner(), fsNone);
  EXPECT_EQ(bar.InteriorOffset(), 0);
  EXPECT_EQ(bar.NumSegments(), 20);
  EXPECT_EQ(bar.BevelWidth(), 1);
  EXPECT_EQ(bar.FlatColor(), bar.palette().color(QPalette::Dark));
  EXPECT_EQ(bar.FlatColorAdjustment(), 30);
  EXPECT_TRUE(bar.ThemeAware());
}

TEST(UiProgressBar, BarStyleCouplesTextAndOffset) {
  TUiProgressBar bar;
  bar.SetBarStyle(bsLED);
  EXPECT_FALSE(bar.ShowPercent());
  EXPECT_EQ(bar.InteriorOffset(), 1);
  bar.SetBarStyle(bsTraditional);
  EXPECT_TRUE(bar.ShowPercent());
  EXPECT_EQ(bar.InteriorOffset(), 0);
  // The same style again leaves the coupled properties alone.
  bar.SetShowPercent(false);
  bar.SetInteriorOffset(3);
  bar.SetBarStyle(bsTraditional);
  EXPECT_FALSE(bar.ShowPercent());
  EXPECT_EQ(bar.InteriorOffset(), 3);
}

TEST(UiProgressBar, BarColorIsFontColor) {
  TUiProgressBar bar;
  bar.SetBarColor(QColor(10, 200, 30));
  EXPECT_EQ(bar.palette().color(QPalette::WindowText), QColor(10, 200, 30));
}

TEST(UiProgressBar, SegmentsStayInRange) {
  TUiProgressBar bar;
  bar.SetNumSegments(0);
  EXPECT_EQ(bar.NumSegments(), 1);
  bar.SetNumSegments(101);
  EXPECT_EQ(bar.NumSegments(), 100);
  bar.SetBorderWidth(-2);
  EXPECT_EQ(bar.BorderWidth(), 0);
}

TEST(UiProgressBar, OrientationFollowsShape) {
  TUiProgressBar bar;
  bar.resize(293, 15);
  EXPECT_EQ(bar.Orientation(), orHorizontal);
  bar.resize(15, 100);
  EXPECT_EQ(bar.Orientation(), orVertical);
  // Set explicitly, it holds until the shape changes again.
  bar.SetOrientation(orHorizontal);
  EXPECT_EQ(bar.Orientation(), orHorizontal);
  bar.move(5, 5);
  EXPECT_EQ(bar.Orientation(), orVertical);
  bar.resize(40, 40);
  EXPECT_EQ(bar.Orientation(), orHorizontal);
}

TEST(UiProgressBar, OrientationFollowsShapeWhenShown) {
  TUiProgressBar bar;
  bar.resize(20, 60);
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  EXPECT_EQ(bar.Orientation(), orVertical);
  bar.SetOrientation(orHorizontal);
  QApplication::processEvents();
  EXPECT_EQ(bar.Orientation(), orHorizontal);
  bar.resize(60, 20);
  QApplication::processEvents();
  EXPECT_EQ(bar.Orientation(), orHorizontal);
  bar.resize(20, 61);
  QApplication::processEvents();
  EXPECT_EQ(bar.Orientation(), orVertical);
}

TEST(UiProgressBar, OnChangeGetsSenderAndPercent) {
  TUiProgressBar bar;
  std::vector<int> seen;
  bar.SetOnChange([&](TUiProgressBar& sender, int percent) {
    EXPECT_EQ(&sender, &bar);
    EXPECT_EQ(sender.Percent(), percent);  // already stored
    seen.push_back(percent);
  });
  bar.SetTotalParts(8);
  bar.SetPartsComplete(1);
  bar.SetPartsComplete(1);
  bar.SetPartsComplete(9);
  bar.SetTotalParts(4);
  EXPECT_EQ(seen, (std::vector<int>{12, 100, 0}));
}

// A screen reader finds a progress bar, its name and its percentage.
TEST(UiProgressBar, ScreenReadersSeeAProgressBarWithItsValue) {
  TUiProgressBar bar;
  bar.setAccessibleName("progress");
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&bar);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->role(), QAccessible::ProgressBar);
  EXPECT_EQ(face->text(QAccessible::Name), "progress");
  ASSERT_NE(face->valueInterface(), nullptr);
  for (const auto& [parts, percent] : {std::pair{0u, 0}, {1u, 25}, {4u, 100}}) {
    bar.SetTotalParts(4);
    bar.SetPartsComplete(parts);
    EXPECT_EQ(face->valueInterface()->currentValue().toInt(), percent);
    EXPECT_EQ(face->text(QAccessible::Value), QString("%1 %").arg(percent));
  }
  EXPECT_EQ(face->valueInterface()->maximumValue().toInt(), 100);
}

TEST(UiProgressBar, PercentRepaintsAtOnce) {
  CountingBar bar;
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  bar.SetTotalParts(10);
  QApplication::processEvents();
  const int before = bar.paints;
  bar.SetPartsComplete(5);  // no event processing in between
  EXPECT_EQ(bar.paints, before + 1);
  bar.SetPartsComplete(5);
  EXPECT_EQ(bar.paints, before + 1);
}

TEST(UiProgressBar, OnlyChangedAppearanceRepaints) {
  CountingBar bar;
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  QApplication::processEvents();
  int before = bar.paints;
  bar.SetBarColor(bar.BarColor());
  bar.SetBackColor(bar.BackColor());
  bar.SetBorderInner(bar.BorderInner());
  bar.SetShowPercent(bar.ShowPercent());
  bar.SetNumSegments(bar.NumSegments());
  bar.SetThemeAware(bar.ThemeAware());
  QApplication::processEvents();
  EXPECT_EQ(bar.paints, before);
  bar.SetBackColor(Qt::yellow);
  QApplication::processEvents();
  EXPECT_EQ(bar.paints, before + 1);
}

TEST(UiProgressBar, LoaderFrameLeavesTwoPixels) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(293, 15);
  EXPECT_EQ(bar.BarRect(), QRect(2, 2, 289, 11));
  bar.SetPercent(0);
  const QImage image = bar.Render();
  ASSERT_EQ(image.size(), QSize(293, 15));
  const QColor shadow = bar.palette().color(QPalette::Dark);
  const QColor highlight = bar.palette().color(QPalette::Light);
  for (int x = 1; x < 292; ++x) {
    EXPECT_TRUE(Is(image.pixel(x, 0), kBorder)) << x;
    EXPECT_TRUE(Is(image.pixel(x, 14), kBorder)) << x;
  }
  for (int x = 2; x < 290; ++x) {
    EXPECT_TRUE(Is(image.pixel(x, 1), shadow)) << x;
    EXPECT_TRUE(Is(image.pixel(x, 13), highlight)) << x;
  }
  for (int y = 2; y < 13; ++y) {
    EXPECT_TRUE(Is(image.pixel(0, y), kBorder)) << y;
    EXPECT_TRUE(Is(image.pixel(1, y), shadow)) << y;
    EXPECT_TRUE(Is(image.pixel(291, y), highlight)) << y;
    EXPECT_TRUE(Is(image.pixel(292, y), kBorder)) << y;
  }
}

struct FillCase {
  int percent;
  int width;  // filled columns of the 289-pixel bar
};

void PrintTo(const FillCase& c, std::ostream* os) {
  *os << c.percent << "%";
}

class HorizontalFill : public ::testing::TestWithParam<FillCase> {};

TEST_P(HorizontalFill, ColumnsWithoutText) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(293, 15);
  bar.SetShowPercent(false);
  bar.SetPercent(GetParam().percent);
  const QImage image = bar.Render();
  for (int x = 2; x < 291; ++x) {
    const QColor expected = x < 2 + GetParam().width ? kBar : kBack;
    for (int y = 2; y < 13; ++y) ASSERT_TRUE(Is(image.pixel(x, y), expected)) << x << "," << y;
  }
}

TEST_P(HorizontalFill, ColumnsAwayFromText) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(293, 15);
  bar.SetPercent(GetParam().percent);
  const QImage image = bar.Render();
  const Span text = TextColumns(bar, QString::fromStdString(PercentText(GetParam().percent)));
  for (int x = 2; x < 291; ++x) {
    if (text.Contains(x)) continue;
    const QColor expected = x < 2 + GetParam().width ? kBar : kBack;
    for (int y = 2; y < 13; ++y) ASSERT_TRUE(Is(image.pixel(x, y), expected)) << x << "," << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Percent, HorizontalFill,
                         ::testing::Values(FillCase{0, 0}, FillCase{1, 3},      // 2.89
                                           FillCase{10, 29}, FillCase{25, 72},  // 72.25
                                           FillCase{50, 144},                   // 144.5
                                           FillCase{75, 217},                   // 216.75
                                           FillCase{99, 286}, FillCase{100, 289}),
                         [](const auto& info) { return std::to_string(info.param.percent); });

// Letters of a colour within the part of the text box that lies in `cols`.
bool HasLetters(const QImage& image, const TUiProgressBar& bar, Span cols, const QColor& letters,
                const QColor& background) {
  const QRect r = bar.BarRect();
  for (int x = std::max(cols.from, r.x()); x < std::min(cols.to, r.x() + r.width()); ++x)
    for (int y = r.y(); y < r.y() + r.height(); ++y)
      if (Near(image.pixel(x, y), letters, background)) return true;
  return false;
}

TEST(UiProgressBar, ColoursSwapAtFillEdge) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(293, 15);
  bar.SetPercent(50);
  const QImage image = bar.Render();
  const Span text = TextColumns(bar, "50%");
  ASSERT_LT(text.from, 146);
  ASSERT_GT(text.to, 146);
  // Inside the fill the letters are in BackColor, outside in BarColor.
  EXPECT_TRUE(HasLetters(image, bar, {text.from, 146}, kBack, kBar));
  EXPECT_TRUE(HasLetters(image, bar, {146, text.to}, kBar, kBack));
  // Every bar pixel is one of the two colours or a blend of them.
  for (int x = 2; x < 291; ++x)
    for (int y = 2; y < 13; ++y) {
      const QRgb p = image.pixel(x, y);
      ASSERT_LE(Distance(p, kBar) + Distance(p, kBack), Distance(qRgb(0, 0, 200), kBack) + 24)
          << x << "," << y;
    }
}

TEST(UiProgressBar, NoFillAtZero) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(293, 15);
  bar.SetTotalParts(10);
  const QImage image = bar.Render();
  const Span text = TextColumns(bar, "0%");
  // Only letters in BarColor; no pixel of the bar's left part is filled.
  EXPECT_TRUE(HasLetters(image, bar, text, kBar, kBack));
  EXPECT_FALSE(HasLetters(image, bar, {2, text.from}, kBar, kBack));
  for (int y = 2; y < 13; ++y) EXPECT_TRUE(Is(image.pixel(2, y), kBack)) << y;
}

TEST(UiProgressBar, WholeBarAtHundred) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(293, 15);
  bar.SetTotalParts(10);
  bar.SetPartsComplete(12);
  ASSERT_EQ(bar.Percent(), 100);
  const QImage image = bar.Render();
  const Span text = TextColumns(bar, "100%");
  EXPECT_TRUE(HasLetters(image, bar, text, kBack, kBar));
  for (int x = 2; x < 291; ++x)
    for (int y = 2; y < 13; ++y) {
      if (text.Contains(x)) continue;
      ASSERT_TRUE(Is(image.pixel(x, y), kBar)) << x << "," << y;
    }
  // Within the text box the background is BarColor too: BackColor-like pixels are
  // letters only, far fewer than the box holds.
  int back = 0;
  int all = 0;
  for (int x = std::max(text.from, 2); x < std::min(text.to, 291); ++x)
    for (int y = 2; y < 13; ++y, ++all) back += Near(image.pixel(x, y), kBack, kBar) ? 1 : 0;
  EXPECT_LT(back, all / 2);
}

TEST(UiProgressBar, TextCentredOnHalfTheRightEdge) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.SetBorderWidth(41);  // a wide left margin shows the text off the bar's centre
  bar.resize(400, 100);
  bar.SetPercent(0);
  const QImage image = bar.Render();
  const QRect r = bar.BarRect();
  ASSERT_EQ(r, QRect(42, 42, 316, 16));
  int first = -1;
  int last = -1;
  for (int x = r.x(); x < r.x() + r.width(); ++x)
    for (int y = r.y(); y < r.y() + r.height(); ++y)
      if (Near(image.pixel(x, y), kBar, kBack)) {
        if (first < 0) first = x;
        last = x;
      }
  ASSERT_GE(first, 0);
  const int centre = (first + last + 1) / 2;
  EXPECT_NEAR(centre, 358 / 2, 3);  // not the bar's centre, 200
}

TEST(UiProgressBar, VerticalFillsFromBottom) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(15, 100);
  ASSERT_EQ(bar.Orientation(), orVertical);
  ASSERT_EQ(bar.BarRect(), QRect(2, 2, 11, 96));
  for (const auto& [percent, height] : std::vector<std::pair<int, int>>{
           {0, 0}, {25, 24}, {50, 48}, {77, 74} /* 73.92 */, {100, 96}}) {
    bar.SetPercent(percent);
    const QImage image = bar.Render();
    const Span text = TextRows(bar);
    for (int y = 2; y < 98; ++y) {
      if (text.Contains(y)) continue;
      const QColor expected = y >= 98 - height ? kBar : kBack;
      for (int x = 2; x < 13; ++x)
        ASSERT_TRUE(Is(image.pixel(x, y), expected)) << percent << "%: " << x << "," << y;
    }
  }
}

TEST(UiProgressBar, VerticalWithoutTextIsExact) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(15, 100);
  bar.SetShowPercent(false);
  bar.SetPercent(50);
  const QImage image = bar.Render();
  for (int y = 2; y < 98; ++y)
    for (int x = 2; x < 13; ++x)
      ASSERT_TRUE(Is(image.pixel(x, y), y >= 50 ? kBar : kBack)) << x << "," << y;
}

TEST(UiProgressBar, PaintingCopiesTheImage) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.resize(293, 15);
  bar.SetShowPercent(false);
  bar.SetPercent(30);
  const QImage painted = bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(painted, bar.Render());
}

TEST(UiProgressBar, LedLightsSegments) {
  TUiProgressBar bar;
  LoaderLook(bar);
  bar.SetBarStyle(bsLED);
  bar.resize(293, 15);
  bar.SetNumSegments(10);
  bar.SetPercent(50);
  const QImage image = bar.Render();
  const QRect r = bar.BarRect();
  ASSERT_EQ(r, QRect(3, 3, 287, 9));
  int lit = 0;
  bool inSegment = false;
  const int y = r.y() + r.height() / 2;
  for (int x = r.x(); x < r.x() + r.width(); ++x) {
    const bool on = Is(image.pixel(x, y), kBar);
    if (on && !inSegment) ++lit;
    inSegment = on;
  }
  EXPECT_EQ(lit, 5);
  EXPECT_TRUE(Is(image.pixel(r.x() + r.width() - 1, y), kBack));
}

}  // namespace
}  // namespace controls
