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

// The hint look of the program: balloon-coloured (info colour) hints that appear
// 500 ms after the pointer comes to rest on a control.
void InstallBalloonHints(QApplication& application);

}  // namespace app
