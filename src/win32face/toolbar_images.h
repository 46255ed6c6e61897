// The tool bar's pictures (a file, a serial port, start, exit), drawn with GDI at the size
// the screen's scaling asks for, so they stay crisp at 200%.
#pragma once

#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>

#include "window/window_look.h"

namespace win32face {

// The pictures' order is the window's image list.
using TToolImage = window::TImageIndex;
using window::imCount;
using window::imExit;
using window::imFile;
using window::imSerialPort;
using window::imStart;

// The image list size for a DPI: 16 pixels up to 143 DPI, 32 from 144 (150%) on.
int ToolImageSize(UINT dpi);

// An image list with the four pictures at `size` pixels; the caller destroys it.
HIMAGELIST CreateToolImages(int size);

}  // namespace win32face
