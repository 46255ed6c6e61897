#include "win32face/toolbar_images.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace win32face {

namespace {

constexpr COLORREF kMask = RGB(255, 0, 255);

// Draws in the 16-pixel design grid, scaled to the image's size.
class TPen {
 public:
  TPen(HDC dc, int size) : dc_(dc), scale_(size / 16.0) {}

  int At(double v) const { return static_cast<int>(std::lround(v * scale_)); }

  void Polygon(std::initializer_list<POINT> design, COLORREF line, COLORREF fill) {
    std::vector<POINT> points;
    for (const POINT& p : design) points.push_back({At(p.x), At(p.y)});
    Select(line, 1, fill);
    ::Polygon(dc_, points.data(), static_cast<int>(points.size()));
    Deselect();
  }

  void Rect(double left, double top, double right, double bottom, COLORREF fill) {
    const RECT r{At(left), At(top), std::max(At(right), At(left) + 1),
                 std::max(At(bottom), At(top) + 1)};
    const HBRUSH brush = ::CreateSolidBrush(fill);
    ::FillRect(dc_, &r, brush);
    ::DeleteObject(brush);
  }

  void Frame(double left, double top, double right, double bottom, COLORREF line, COLORREF fill) {
    Select(line, 1, fill);
    ::Rectangle(dc_, At(left), At(top), At(right), At(bottom));
    Deselect();
  }

  void Line(double x1, double y1, double x2, double y2, COLORREF color, int width) {
    Select(color, width, CLR_NONE);
    ::MoveToEx(dc_, At(x1), At(y1), nullptr);
    ::LineTo(dc_, At(x2), At(y2));
    Deselect();
  }

 private:
  void Select(COLORREF line, int width, COLORREF fill) {
    pen_ = ::CreatePen(PS_SOLID, std::max(1, At(width)), line);
    brush_ = fill == CLR_NONE ? static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH))
                              : ::CreateSolidBrush(fill);
    oldPen_ = ::SelectObject(dc_, pen_);
    oldBrush_ = ::SelectObject(dc_, brush_);
  }
  void Deselect() {
    ::SelectObject(dc_, oldPen_);
    ::SelectObject(dc_, oldBrush_);
    ::DeleteObject(pen_);
    ::DeleteObject(brush_);  // deleting a stock object does nothing
  }

  HDC dc_;
  double scale_;
  HPEN pen_ = nullptr;
  HBRUSH brush_ = nullptr;
  HGDIOBJ oldPen_ = nullptr;
  HGDIOBJ oldBrush_ = nullptr;
};

void DrawFile(TPen& p) {
  // A sheet with a folded corner and a few lines of text.
  p.Polygon({{2, 0}, {10, 0}, {13, 3}, {13, 15}, {2, 15}}, RGB(0x55, 0x55, 0x55),
            RGB(255, 255, 255));
  p.Polygon({{10, 0}, {10, 3}, {13, 3}}, RGB(0x55, 0x55, 0x55), RGB(0xD8, 0xD8, 0xD8));
  for (int y = 6; y <= 12; y += 2) p.Rect(4, y, 12, y + 1, RGB(0x1F, 0x5F, 0xBF));
}

void DrawSerialPort(TPen& p) {
  // A nine-pin D connector seen from the front.
  p.Polygon({{0, 3}, {15, 3}, {13, 12}, {2, 12}}, RGB(0x30, 0x30, 0x30), RGB(0x9A, 0xA4, 0xB0));
  for (int i = 0; i < 5; ++i) p.Rect(3 + i * 2.2, 6, 4.4 + i * 2.2, 7.4, RGB(0xFF, 0xD7, 0x00));
  for (int i = 0; i < 4; ++i) p.Rect(4.1 + i * 2.2, 9, 5.5 + i * 2.2, 10.4, RGB(0xFF, 0xD7, 0x00));
}

void DrawStart(TPen& p) {
  // A green "play" triangle.
  p.Polygon({{3, 1}, {14, 8}, {3, 14}}, RGB(0x1B, 0x6E, 0x20), RGB(0x3C, 0xB0, 0x43));
}

void DrawExit(TPen& p) {
  // An open door with a red arrow leaving it.
  p.Frame(1, 0, 9, 16, RGB(0x5A, 0x3A, 0x1A), RGB(0xB0, 0x7A, 0x40));
  p.Rect(6.5, 7.5, 7.5, 8.5, RGB(0x2A, 0x1A, 0x0A));
  p.Line(8, 8, 13, 8, RGB(0xC6, 0x28, 0x28), 2);
  p.Polygon({{11, 4}, {15, 8}, {11, 12}}, RGB(0xC6, 0x28, 0x28), RGB(0xC6, 0x28, 0x28));
}

}  // namespace

int ToolImageSize(UINT dpi) {
  return dpi >= 144 ? 32 : 16;
}

HIMAGELIST CreateToolImages(int size) {
  const HIMAGELIST list = ::ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, imCount, 0);
  if (list == nullptr) return nullptr;
  const HDC screen = ::GetDC(nullptr);
  const HDC dc = ::CreateCompatibleDC(screen);
  for (int index = 0; index < imCount; ++index) {
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, size, size);
    const HGDIOBJ old = ::SelectObject(dc, bitmap);
    const RECT all{0, 0, size, size};
    const HBRUSH mask = ::CreateSolidBrush(kMask);
    ::FillRect(dc, &all, mask);
    ::DeleteObject(mask);
    TPen pen(dc, size);
    switch (index) {
      case imFile:
        DrawFile(pen);
        break;
      case imSerialPort:
        DrawSerialPort(pen);
        break;
      case imStart:
        DrawStart(pen);
        break;
      default:
        DrawExit(pen);
        break;
    }
    ::SelectObject(dc, old);
    ::ImageList_AddMasked(list, bitmap, kMask);
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return list;
}

}  // namespace win32face
