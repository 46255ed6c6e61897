#include "controls/ui_tool_button.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>

namespace controls {

TUiToolButton::TUiToolButton(QWidget* parent) : QToolButton(parent) {}

bool TUiToolButton::eventFilter(QObject* watched, QEvent* event) {
  // The toolkit places the menu at the screen's edge; it is moved once it shows.
  if (event->type() == QEvent::Show && watched == menu()) PlaceMenu(*menu());
  return QToolButton::eventFilter(watched, event);
}

void TUiToolButton::PlaceMenu(QMenu& menu) const {
  const QPoint corner = mapToGlobal(QPoint(0, height()));
  const QScreen* screen = QGuiApplication::screenAt(corner);
  if (screen == nullptr) screen = this->screen();
  if (screen == nullptr) return;
  const QFontMetrics metrics(menu.font());
  int widest = 0;
  for (const QAction* action : menu.actions())
    widest = std::max(widest, metrics.horizontalAdvance(action->text()));
  const int workRight = screen->availableGeometry().x() + screen->availableGeometry().width();
  const int left = corner.x() + widest + kMenuExtraWidth > workRight
                       ? mapToGlobal(QPoint(width(), 0)).x() - menu.width()
                       : corner.x();
  menu.move(left, menu.y());
}

void TUiToolButton::mousePressEvent(QMouseEvent* event) {
  // The menu drops for a press of the left button alone, and only when it has items.
  const bool plainLeft =
      event->button() == Qt::LeftButton &&
      (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
  if (plainLeft && OnBeforeDrop) OnBeforeDrop();
  if (menu() != nullptr) menu()->installEventFilter(this);
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
  if (menu() != nullptr) menu()->installEventFilter(this);
  if (menu() != nullptr && !menu()->isEmpty()) showMenu();
}

}  // namespace controls
