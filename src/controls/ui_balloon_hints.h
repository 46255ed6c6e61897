// The hint look of the program: balloon-coloured (info colour) hints that appear 500 ms
// after the pointer comes to rest on a control; while one shows, the next control's hint
// follows after 50 ms.
#pragma once

#include <QApplication>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace controls {

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

// Gives the application the hint timing and colours above; call it once.
void InstallBalloonHints(QApplication& application);

}  // namespace controls
