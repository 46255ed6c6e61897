// The GDI progress bar on a memory bitmap, with the Qt bar's pixel expectations.
#include "win32face/gdi_progress_bar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "controls/progress_model.h"

namespace win32face {
namespace {

const COLORREF kBar = RGB(0, 0, 200);
const COLORREF kBack = RGB(255, 255, 255);
const COLORREF kBorder = RGB(192, 192, 192);
const COLORREF kShadow = RGB(128, 128, 128);
const COLORREF kHighlight = RGB(250, 250, 250);

TBarLook LoaderLook() {
  TBarLook look{kBar, kBack, kBorder, kShadow, kHighlight};
  return look;
}

// A bar painted into a top-down 32-bit memory bitmap.
class TPainted {
 public:
  TPainted(SIZE size, int percent, const TBarLook& look = LoaderLook()) : size_(size) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc_ = ::CreateCompatibleDC(nullptr);
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                 nullptr, 0);
    old_ = ::SelectObject(dc_, bitmap_);
    PaintProgressBar(dc_, size, percent, look, Font());
    ::GdiFlush();
  }
  ~TPainted() {
    ::SelectObject(dc_, old_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }
  TPainted(const TPainted&) = delete;
  TPainted& operator=(const TPainted&) = delete;

  COLORREF At(int x, int y) const {
    const std::uint32_t p = bits_[y * size_.cx + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  static HFONT Font() { return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)); }
  // Width of a text in the bar's font.
  int TextWidth(const std::wstring& text) const {
    const HGDIOBJ old = ::SelectObject(dc_, Font());
    SIZE extent{};
    ::GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc_, old);
    return extent.cx;
  }

 private:
  SIZE size_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  std::uint32_t* bits_ = nullptr;
};

int Distance(COLORREF a, COLORREF b) {
  return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
         std::abs(GetBValue(a) - GetBValue(b));
}

// A letter pixel of a colour: nearer to it than to the other of the two bar colours.
bool Near(COLORREF pixel, COLORREF color, COLORREF other) {
  return Distance(pixel, color) < Distance(pixel, other);
}

struct Span {
  int from;
  int to;  // exclusive
  bool Contains(int v) const { return v >= from && v < to; }
};

// The columns the text may touch, with room for the font's overhang.
Span TextColumns(const TPainted& bar, const RECT& r, int percent) {
  const int centre = r.right / 2;
  const std::string text = controls::PercentText(percent);
  const int half = bar.TextWidth(std::wstring(text.begin(), text.end())) / 2 + 3;
  return {centre - half, centre + half};
}

bool HasLetters(const TPainted& bar, const RECT& r, Span cols, COLORREF letters,
                COLORREF background) {
  for (int x = std::max<int>(cols.from, r.left); x < std::min<int>(cols.to, r.right); ++x)
    for (int y = r.top; y < r.bottom; ++y)
      if (Near(bar.At(x, y), letters, background)) return true;
  return false;
}

TEST(GdiProgressBar, LoaderFrameLeavesTwoPixels) {
  const RECT r = BarRect({293, 15}, LoaderLook());
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 291);
  EXPECT_EQ(r.bottom, 13);
  const TPainted bar({293, 15}, 0);
  for (int x = 1; x < 292; ++x) {
    EXPECT_EQ(bar.At(x, 0), kBorder) << x;
    EXPECT_EQ(bar.At(x, 14), kBorder) << x;
  }
  for (int x = 2; x < 290; ++x) {
    EXPECT_EQ(bar.At(x, 1), kShadow) << x;
    EXPECT_EQ(bar.At(x, 13), kHighlight) << x;
  }
  for (int y = 2; y < 13; ++y) {
    EXPECT_EQ(bar.At(0, y), kBorder) << y;
    EXPECT_EQ(bar.At(1, y), kShadow) << y;
    EXPECT_EQ(bar.At(291, y), kHighlight) << y;
    EXPECT_EQ(bar.At(292, y), kBorder) << y;
  }
}

// Filled columns of the 289-pixel bar, with and without the text over it.
TEST(GdiProgressBar, HorizontalFill) {
  const std::vector<std::pair<int, int>> cases{{0, 0},    {1, 3},    {10, 29},  {25, 72},
                                               {50, 144}, {75, 217}, {99, 286}, {100, 289}};
  for (const auto& [percent, width] : cases) {
    for (const bool text : {false, true}) {
      TBarLook look = LoaderLook();
      look.showPercent = text;
      const TPainted bar({293, 15}, percent, look);
      const Span letters = text ? TextColumns(bar, {2, 2, 291, 13}, percent) : Span{0, 0};
      for (int x = 2; x < 291; ++x) {
        if (letters.Contains(x)) continue;
        const COLORREF expected = x < 2 + width ? kBar : kBack;
        for (int y = 2; y < 13; ++y)
          ASSERT_EQ(bar.At(x, y), expected)
              << percent << "% text " << text << ": " << x << "," << y;
      }
    }
  }
}

TEST(GdiProgressBar, ColoursSwapAtFillEdge) {
  const TPainted bar({293, 15}, 50);
  const RECT r{2, 2, 291, 13};
  const Span text = TextColumns(bar, r, 50);
  ASSERT_LT(text.from, 146);
  ASSERT_GT(text.to, 146);
  EXPECT_TRUE(HasLetters(bar, r, {text.from, 146}, kBack, kBar));
  EXPECT_TRUE(HasLetters(bar, r, {146, text.to}, kBar, kBack));
}

TEST(GdiProgressBar, NoFillAtZeroWholeBarAtHundred) {
  const RECT r{2, 2, 291, 13};
  const TPainted zero({293, 15}, 0);
  const Span zeroText = TextColumns(zero, r, 0);
  EXPECT_TRUE(HasLetters(zero, r, zeroText, kBar, kBack));
  EXPECT_FALSE(HasLetters(zero, r, {2, zeroText.from}, kBar, kBack));

  const TPainted full({293, 15}, 100);
  const Span fullText = TextColumns(full, r, 100);
  EXPECT_TRUE(HasLetters(full, r, fullText, kBack, kBar));
  // BackColor-like pixels within the text box are letters only, far fewer than it holds.
  int back = 0;
  int all = 0;
  for (int x = fullText.from; x < fullText.to; ++x)
    for (int y = 2; y < 13; ++y, ++all) back += Near(full.At(x, y), kBack, kBar) ? 1 : 0;
  EXPECT_LT(back, all / 2);
}

TEST(GdiProgressBar, TextCentredOnHalfTheRightEdge) {
  TBarLook look = LoaderLook();
  look.borderWidth = 41;  // a wide left margin shows the text off the bar's centre
  const TPainted bar({400, 100}, 0, look);
  const RECT r = BarRect({400, 100}, look);
  ASSERT_EQ(r.left, 42);
  ASSERT_EQ(r.right, 358);
  int first = -1;
  int last = -1;
  for (int x = r.left; x < r.right; ++x)
    for (int y = r.top; y < r.bottom; ++y)
      if (Near(bar.At(x, y), kBar, kBack)) {
        if (first < 0) first = x;
        last = x;
      }
  ASSERT_GE(first, 0);
  EXPECT_NEAR((first + last + 1) / 2, 358 / 2, 3);  // not the bar's centre, 200
}

TEST(GdiProgressBar, VerticalFillsFromBottom) {
  TBarLook look = LoaderLook();
  look.showPercent = false;
  for (const auto& [percent, height] :
       std::vector<std::pair<int, int>>{{0, 0}, {25, 24}, {50, 48}, {77, 74}, {100, 96}}) {
    const TPainted bar({15, 100}, percent, look);
    for (int y = 2; y < 98; ++y)
      for (int x = 2; x < 13; ++x)
        ASSERT_EQ(bar.At(x, y), y >= 98 - height ? kBar : kBack)
            << percent << "%: " << x << "," << y;
  }
}

}  // namespace
}  // namespace win32face
