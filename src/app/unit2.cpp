#include "app/unit2.h"

#include <QFont>
#include <QLabel>
#include <QVBoxLayout>
#include <QWindow>

#include "window/window_look.h"

namespace app {

void KeepCaptionOnScreen(QWidget& window) {
  // A blank is shown as nothing, and is not empty, so no name takes its place.
  if (QWindow* handle = window.windowHandle(); handle != nullptr && window.windowTitle().isEmpty())
    handle->setTitle(QStringLiteral(" "));
}

TForm2::TForm2(QWidget* mainWindow) : QDialog(mainWindow) {
  setObjectName("Form2");
  setWindowTitle(QString());
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(window::kPromptClientSize.width, window::kPromptClientSize.height);
  setModal(false);
  // The window colour (white), not the button face.
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);

  Label1 = new QLabel(QString::fromUtf8(kPowerOnPrompt), this);
  Label1->setObjectName("Label1");
  Label1->setAlignment(Qt::AlignCenter);
  QFont font = Label1->font();
  font.setPixelSize(window::kPromptFontHeight);
  Label1->setFont(font);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Label1);
}

void TForm2::ShowPrompt() {
  show();
  raise();
}

void TForm2::showEvent(QShowEvent* event) {
  if (QWidget* owner = parentWidget(); owner != nullptr) {
    QRect frame = geometry();
    frame.moveCenter(owner->geometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
  KeepCaptionOnScreen(*this);
}

}  // namespace app
