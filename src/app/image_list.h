// The tool bar's pictures (ImageList1), drawn at start-up rather than shipped as
// files: 0 file, 1 serial port, 2 start, 3 exit, each 16 x 16 pixels.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace app {

enum TImageIndex { imFile = 0, imSerialPort = 1, imStart = 2, imExit = 3, imCount = 4 };

// The 16 x 16 picture of one image; an index outside the list gives a null pixmap.
QPixmap ImageListPixmap(int index);
QIcon ImageListIcon(int index);

}  // namespace app
