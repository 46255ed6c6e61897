// The application object. Everything the window runs shows its own exceptions through
// the window logic's one handler (TMainWindow::RunHandler); only as the last resort, an
// exception that still reaches the event loop is shown here, so the program goes on running.
#pragma once

#include <QApplication>

namespace app {

class TLoaderApplication : public QApplication {
 public:
  TLoaderApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace app
