#include "win32face/gdi_progress_bar.h"

#include <algorithm>
#include <string>

#include "controls/progress_model.h"
#include "platform/utf8_win32.h"

namespace win32face {

namespace {

void Fill(HDC dc, const RECT& rect, COLORREF color) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  const COLORREF before = ::SetBkColor(dc, color);
  ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  ::SetBkColor(dc, before);
}

void Shrink(RECT& rect, int by) {
  ::InflateRect(&rect, -by, -by);
}

// A plain outline `width` pixels wide just inside rect, which shrinks by it.
void Outline(HDC dc, RECT& rect, int width, COLORREF color) {
  width =
      std::min<int>({width, (rect.right - rect.left + 1) / 2, (rect.bottom - rect.top + 1) / 2});
  if (width <= 0) return;
  Fill(dc, {rect.left, rect.top, rect.right, rect.top + width}, color);
  Fill(dc, {rect.left, rect.bottom - width, rect.right, rect.bottom}, color);
  Fill(dc, {rect.left, rect.top, rect.left + width, rect.bottom}, color);
  Fill(dc, {rect.right - width, rect.top, rect.right, rect.bottom}, color);
  Shrink(rect, width);
}

// The one-pixel sunken edge of a status pane: top and left in shadow, bottom and right in
// highlight.
void StatusEdge(HDC dc, RECT& rect, COLORREF shadow, COLORREF highlight) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  Fill(dc, {rect.left, rect.top, rect.right - 1, rect.top + 1}, shadow);
  Fill(dc, {rect.left, rect.top, rect.left + 1, rect.bottom - 1}, shadow);
  Fill(dc, {rect.left, rect.bottom - 1, rect.right, rect.bottom}, highlight);
  Fill(dc, {rect.right - 1, rect.top, rect.right, rect.bottom}, highlight);
  Shrink(rect, 1);
}

}  // namespace

TBarLook SystemBarLook() {
  TBarLook look{};
  look.barColor = ::GetSysColor(COLOR_HIGHLIGHT);
  look.backColor = ::GetSysColor(COLOR_WINDOW);
  look.borderColor = ::GetSysColor(COLOR_BTNFACE);
  look.shadowColor = ::GetSysColor(COLOR_BTNSHADOW);
  look.highlightColor = ::GetSysColor(COLOR_BTNHIGHLIGHT);
  return look;
}

RECT BarRect(SIZE size, const TBarLook& look) {
  RECT rect{0, 0, size.cx, size.cy};
  Shrink(rect, look.borderWidth + 1);
  return rect;
}

void PaintProgressBar(HDC dc, SIZE size, int percent, const TBarLook& look, HFONT font) {
  RECT bar{0, 0, size.cx, size.cy};
  Fill(dc, bar, look.borderColor);
  if (look.borderWidth != 0) Outline(dc, bar, look.borderWidth, look.borderColor);
  StatusEdge(dc, bar, look.shadowColor, look.highlightColor);

  const int width = std::max<int>(bar.right - bar.left, 0);
  const int height = std::max<int>(bar.bottom - bar.top, 0);
  RECT fill = bar;
  RECT rest = bar;
  if (size.cy > size.cx) {
    const int extent = controls::FillExtent(percent, height);
    fill.top = bar.bottom - extent;
    rest.bottom = fill.top;
  } else {
    const int extent = controls::FillExtent(percent, width);
    fill.right = bar.left + extent;
    rest.left = fill.right;
  }

  const std::wstring text =
      look.showPercent ? platform::Utf8ToWide(controls::PercentText(percent)) : std::wstring();
  const HGDIOBJ oldFont = font != nullptr ? ::SelectObject(dc, font) : nullptr;
  SIZE textSize{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &textSize);
  SIZE x{};
  ::GetTextExtentPoint32W(dc, L"X", 1, &x);
  // Centred on half the bar's right edge, so a left margin moves the text left of the
  // bar's centre by half that margin; that is how the bar has always looked.
  const int left = bar.right / 2 - textSize.cx / 2;
  const int top = bar.top + (height - x.cy) / 2;

  // The painted clip rectangles are the fill and the rest of the bar; the text is
  // written over both with the colours swapped.
  const int oldMode = ::SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColor = ::GetTextColor(dc);
  const auto draw = [&](const RECT& clip, COLORREF background, COLORREF letters) {
    if (clip.right <= clip.left || clip.bottom <= clip.top) return;
    Fill(dc, clip, background);
    if (text.empty()) return;
    ::SetTextColor(dc, letters);
    ::ExtTextOutW(dc, left, top, ETO_CLIPPED, &clip, text.c_str(), static_cast<UINT>(text.size()),
                  nullptr);
  };
  draw(fill, look.barColor, look.backColor);
  draw(rest, look.backColor, look.barColor);
  ::SetTextColor(dc, oldColor);
  ::SetBkMode(dc, oldMode);
  if (oldFont != nullptr) ::SelectObject(dc, oldFont);
}

void PaintProgressBarBuffered(HDC target, const RECT& where, int percent, const TBarLook& look,
                              HFONT font) {
  const SIZE size{where.right - where.left, where.bottom - where.top};
  if (size.cx <= 0 || size.cy <= 0) return;
  const HDC memory = ::CreateCompatibleDC(target);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(target, size.cx, size.cy);
  if (memory == nullptr || bitmap == nullptr) {
    // No memory for the buffer: paint straight onto the target rather than not at all.
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    if (memory != nullptr) ::DeleteDC(memory);
    const int saved = ::SaveDC(target);
    ::SetViewportOrgEx(target, where.left, where.top, nullptr);
    PaintProgressBar(target, size, percent, look, font);
    ::RestoreDC(target, saved);
    return;
  }
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  PaintProgressBar(memory, size, percent, look, font);
  ::BitBlt(target, where.left, where.top, size.cx, size.cy, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
}

}  // namespace win32face
