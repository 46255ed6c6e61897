#include "app/app_error.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

void ShowException(const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error) != nullptr) return;
  ShowErrorBox(session::ErrorBoxText(error.what()));
}

void ShowErrorBox(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kAppTitle), QString::fromUtf8(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

void ShowMessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), QString::fromUtf8(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

}  // namespace app
