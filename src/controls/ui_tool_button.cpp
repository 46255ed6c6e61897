#include "controls/ui_tool_button.h"

#include <QMenu>
#include <QMouseEvent>

namespace controls {

void TUiToolButton::mousePressEvent(QMouseEvent* event) {
  // The menu drops for a press of the left button alone, and only when it has items.
  const bool plainLeft =
      event->button() == Qt::LeftButton &&
      (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
  if (plainLeft && OnBeforeDrop) OnBeforeDrop();
  if (popupMode() == InstantPopup && menu() != nullptr && (!plainLeft || menu()->isEmpty())) {
    event->accept();
    return;
  }
  QToolButton::mousePressEvent(event);
}

void TUiToolButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click does not drop the menu again.
  if (popupMode() == InstantPopup && menu() != nullptr) {
    event->accept();
    return;
  }
  QToolButton::mouseDoubleClickEvent(event);
}

void TUiToolButton::DropMenu() {
  if (!isEnabled()) return;
  if (OnBeforeDrop) OnBeforeDrop();
  if (menu() != nullptr && !menu()->isEmpty()) showMenu();
}

}  // namespace controls
