// Writes the program's icon as the window draws it (app::ProgramIcon) into
// DIR/<N>x<N>/apps/loader.png for each size N given: the hicolor theme's PNGs for the
// install tree, so the menu shows the same picture as the window's title bar.
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>
#include <string>
#include <vector>

#include "app/image_list.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) {
    std::fputs("usage: write_icon_png DIR SIZE...\n", stderr);
    return 64;
  }
  QGuiApplication application(argc, argv);  // pixmaps need it; run with QT_QPA_PLATFORM=offscreen
  const QIcon icon = app::ProgramIcon();
  const QDir dir(QString::fromStdString(args[0]));
  for (std::size_t i = 1; i < args.size(); ++i) {
    const int size = QString::fromStdString(args[i]).toInt();
    if (size <= 0) {
      std::fprintf(stderr, "write_icon_png: '%s' is not a size in pixels\n", args[i].c_str());
      return 64;
    }
    const QString sub = QStringLiteral("%1x%1/apps").arg(size);
    const QString path = dir.filePath(sub + QStringLiteral("/loader.png"));
    if (!dir.mkpath(sub) || !icon.pixmap(size, size).save(path, "PNG")) {
      std::fprintf(stderr, "write_icon_png: cannot write %s\n", path.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
