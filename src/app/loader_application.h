// The application object. The window's handlers show their own exceptions
// (RunHandler); as a last line, an exception that still reaches the event loop is
// shown with the default error display too, so the program goes on running.
#pragma once

#include <QApplication>

namespace app {

class TLoaderApplication : public QApplication {
 public:
  TLoaderApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace app
