#include "app/app_error.h"

#include <QApplication>
#include <QMessageBox>
#include <stdexcept>

namespace app {

void ShowException(const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error) != nullptr) return;
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kAppTitle),
                  QString::fromUtf8(session::ErrorBoxText(error.what())), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

void RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error"));
  }
}

void ShowMessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), QString::fromUtf8(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

}  // namespace app
