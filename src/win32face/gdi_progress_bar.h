// The progress bar of the status bar, painted with GDI: the same frame, fill and swapped
// percentage text as the Qt window's bar, from the shared arithmetic of
// controls/progress_model.h.
#pragma once

#include <windows.h>

namespace win32face {

struct TBarLook {
  COLORREF barColor;   // the fill, and the letters outside it
  COLORREF backColor;  // the rest of the bar, and the letters inside the fill
  COLORREF borderColor;
  COLORREF shadowColor;     // top and left of the sunken status edge
  COLORREF highlightColor;  // bottom and right of it
  int borderWidth = 1;      // the plain border in borderColor outside the edge
  bool showPercent = true;
};

// The loader's colours: the system's highlight, window, face, shadow and highlight colours.
TBarLook SystemBarLook();

// The bar's own rectangle inside its frame, for a control of size `size` at the origin.
RECT BarRect(SIZE size, const TBarLook& look);

// Paints the whole control (size `size`) into dc with its top left corner at the origin.
// A control higher than wide fills upwards from the bottom; otherwise from the left.
void PaintProgressBar(HDC dc, SIZE size, int percent, const TBarLook& look, HFONT font);

// Paints into an off-screen bitmap first and copies it onto `target` at `where`, so the
// bar never flickers while the percentage changes.
void PaintProgressBarBuffered(HDC target, const RECT& where, int percent, const TBarLook& look,
                              HFONT font);

}  // namespace win32face
