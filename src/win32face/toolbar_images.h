// The tool bar's pictures (a file, a serial port, start, exit), drawn with GDI at the size
// the screen's scaling asks for, so they stay crisp at 200%.
#pragma once

#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>

namespace win32face {

enum TToolImage { imFile = 0, imSerialPort = 1, imStart = 2, imExit = 3, imCount = 4 };

// The image list size for a DPI: 16 pixels up to 143 DPI, 32 from 144 (150%) on.
int ToolImageSize(UINT dpi);

// An image list with the four pictures at `size` pixels; the caller destroys it.
HIMAGELIST CreateToolImages(int size);

}  // namespace win32face
