// The power-on prompt window: asks the operator to switch the device on.
#pragma once

#include <QDialog>

#include "window/main_window.h"

class QLabel;

namespace app {

using window::kPowerOnPrompt;

// Shows the window's caption as set, an empty one empty: the toolkit would put the
// application's name in its place. Called once the window is on screen, and after each
// change of its caption.
void KeepCaptionOnScreen(QWidget& window);

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
