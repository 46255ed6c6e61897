// The power-on prompt window: asks the operator to switch the device on.
#pragma once

#include <QDialog>

#include "window/main_window.h"

class QLabel;

namespace app {

using window::kPowerOnPrompt;

class TForm2 : public QDialog {
 public:
  // The prompt stays above its main window and is centred on it when shown.
  explicit TForm2(QWidget* mainWindow);

  QLabel* Label1;

  // Shows the prompt without waiting for it, centred on the main window.
  void ShowPrompt();

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace app
