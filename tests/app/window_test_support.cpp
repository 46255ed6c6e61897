#include "window_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QThread>

namespace apptest {

TModalDriver::TModalDriver() {
  OnFileDialog = [](QFileDialog& dialog) { dialog.reject(); };
  timer_.setInterval(5);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

TModalDriver::~TModalDriver() {
  timer_.stop();
}

int TModalDriver::Count(const QString& kind) const {
  int n = 0;
  for (const TSeenModal& seen : Seen) n += seen.kind == kind ? 1 : 0;
  return n;
}

void TModalDriver::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || !modal->isVisible()) return;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    TSeenModal seen{"box", box->windowTitle(), box->text(), box->icon(), false};
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (qobject_cast<QFileDialog*>(top) != nullptr && top->isVisible())
        seen.overFileDialog = true;
    }
    if (box->icon() == QMessageBox::Question) {
      seen.kind = "question";
      Seen.push_back(seen);
      for (QAbstractButton* button : box->buttons()) {
        if (!QuestionAnswer.isEmpty() && button->text() == QuestionAnswer) {
          button->click();
          return;
        }
      }
      box->reject();
      return;
    }
    Seen.push_back(seen);
    box->done(QMessageBox::Ok);
  } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
    Seen.push_back({"file dialog", dialog->windowTitle(), QString(), QMessageBox::NoIcon, false});
    OnFileDialog(*dialog);
  }
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  QDeadlineTimer deadline(timeout);
  while (!pred()) {
    if (deadline.hasExpired()) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

void Spin(std::chrono::milliseconds duration) {
  QDeadlineTimer deadline(duration);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

std::string MakeImage(std::size_t size) {
  std::string image(size, '\0');
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return image;
}

std::string MakeHex(std::size_t size) {
  const std::string image = MakeImage(size);
  return testsupport::IntelHex(std::vector<std::uint8_t>(image.begin(), image.end()));
}

}  // namespace apptest
