#include "app/loader_application.h"

#include <stdexcept>

#include "app/app_error.h"
#include "app/image_list.h"
#include "controls/ui_balloon_hints.h"
#include "loader_version.h"

namespace app {

TLoaderApplication::TLoaderApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromUtf8(kAppTitle));
  // The task bar and the desktop find the program by its desktop entry's name and show
  // its icon.
  setDesktopFileName(LOADER_APP_ID);
  setWindowIcon(ProgramIcon());
  controls::InstallBalloonHints(*this);
}

bool TLoaderApplication::notify(QObject* receiver, QEvent* event) {
  // An exception must not unwind through the event loop: show it and go on, with
  // the rest of the failed handler skipped.
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error"));
  }
  return false;
}

}  // namespace app
