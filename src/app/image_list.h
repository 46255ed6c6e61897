// The tool bar's pictures (ImageList1), drawn at start-up rather than shipped as
// files: 0 file, 1 serial port, 2 start, 3 exit, each 16 x 16 pixels at 100 % scaling.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "window/window_look.h"

namespace app {

using window::imCount;
using window::imExit;
using window::imFile;
using window::imSerialPort;
using window::imStart;
using window::TImageIndex;

// The picture of one image, 16 x 16 unless asked larger (for high-density screens); an
// index outside the list gives a null pixmap.
QPixmap ImageListPixmap(int index, int size = 16);
// The picture at every size a screen may ask for.
QIcon ImageListIcon(int index);

// The program's own icon (window, task bar, desktop entry), 16 to 256 pixels.
QIcon ProgramIcon();

}  // namespace app
