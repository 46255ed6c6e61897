// The application object. The window's handlers show their own exceptions
// (RunHandler); as a last line, an exception that still reaches the event loop is
// shown with the default error display too, so the program goes on running.
#pragma once

#include <QApplication>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace app {

class TLoaderApplication : public QApplication {
 public:
  TLoaderApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// Installed on the application: while a hint is showing, the hint of the next control
// the pointer comes to appears 50 ms later (the first hint waits 500 ms).
class THintFollowUp : public QObject {
 public:
  static constexpr int kFollowUpMs = 50;
  // The delay after which the toolkit itself asks for the follow-up hint.
  static constexpr int kToolkitFollowUpMs = 20;

  explicit THintFollowUp(QObject* parent = nullptr);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowPending();

  QTimer timer_;
  QPointer<QWidget> pendingWidget_;
  QPoint pendingPos_;
  QPoint pendingGlobalPos_;
  bool redelivering_ = false;
};

// The hint look of the program: balloon-coloured (info colour) hints that appear
// 500 ms after the pointer comes to rest on a control.
void InstallBalloonHints(QApplication& application);

}  // namespace app
