// The drop-down tool button: which presses drop its menu, and the refill before a drop.
#include "controls/ui_tool_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace controls {
namespace {

enum class TWay { press, doubleClickPress, dropMenu };

struct TDropCase {
  const char* name;
  TWay way;
  Qt::MouseButton button;
  Qt::KeyboardModifiers modifiers;
  bool enabled;
  int items;  // what the refill puts in the menu
  bool refills;
  bool drops;
};

TEST(TUiToolButton, MenuDropsForPlainLeftPressOrKeyboardWhenItHasItems) {
  const TDropCase cases[] = {
      {"plain left press", TWay::press, Qt::LeftButton, Qt::NoModifier, true, 1, true, true},
      {"empty menu", TWay::press, Qt::LeftButton, Qt::NoModifier, true, 0, true, false},
      {"Shift", TWay::press, Qt::LeftButton, Qt::ShiftModifier, true, 1, false, false},
      {"Ctrl", TWay::press, Qt::LeftButton, Qt::ControlModifier, true, 1, false, false},
      {"Alt", TWay::press, Qt::LeftButton, Qt::AltModifier, true, 1, false, false},
      {"right button", TWay::press, Qt::RightButton, Qt::NoModifier, true, 1, false, false},
      {"double click", TWay::doubleClickPress, Qt::LeftButton, Qt::NoModifier, true, 1, false,
       false},
      {"keyboard", TWay::dropMenu, Qt::NoButton, Qt::NoModifier, true, 1, true, true},
      {"keyboard, empty menu", TWay::dropMenu, Qt::NoButton, Qt::NoModifier, true, 0, true, false},
      {"keyboard, disabled", TWay::dropMenu, Qt::NoButton, Qt::NoModifier, false, 1, false, false},
  };
  for (const TDropCase& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget window;
    auto* button = new TUiToolButton(&window);
    auto* menu = new QMenu(button);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setEnabled(c.enabled);
    button->setGeometry(0, 0, 40, 24);
    bool refilled = false;
    button->OnBeforeDrop = [&] {
      refilled = true;
      menu->clear();
      for (int i = 0; i < c.items; ++i) menu->addAction(QString("item %1").arg(i));
    };
    menu->addAction("stale");  // dropped as it stands unless refilled
    bool dropped = false;
    // The menu runs its own loop once it drops: close it from there.
    QObject::connect(menu, &QMenu::aboutToShow, [&] {
      dropped = true;
      QTimer::singleShot(0, menu, &QMenu::close);
    });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const QPoint at(5, 5);
    switch (c.way) {
      case TWay::press:
        QTest::mouseClick(button, c.button, c.modifiers, at);
        break;
      case TWay::doubleClickPress: {
        QMouseEvent second(QEvent::MouseButtonDblClick, at, button->mapToGlobal(at), Qt::LeftButton,
                           Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(button, &second);
        break;
      }
      case TWay::dropMenu:
        button->DropMenu();
        break;
    }
    QApplication::processEvents();
    EXPECT_EQ(refilled, c.refills);
    EXPECT_EQ(dropped, c.drops);
    if (dropped) {
      EXPECT_EQ(menu->actions().size(), c.items);
    }
  }
}

// Near the screen's right edge the menu ends at the button's right edge; elsewhere it starts
// at the button's left edge.
TEST(TUiToolButton, MenuNearTheRightEdgeEndsAtTheButtonsRightEdge) {
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  for (const bool nearEdge : {false, true}) {
    SCOPED_TRACE(nearEdge);
    QWidget window;
    window.setGeometry(nearEdge ? work.right() - 60 : work.left() + 10, work.top() + 10, 50, 40);
    auto* button = new TUiToolButton(&window);
    auto* menu = new QMenu(button);
    menu->addAction("/dev/ttyUSB0 long enough");
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setGeometry(0, 0, 40, 24);
    QRect shown;
    QObject::connect(menu, &QMenu::aboutToShow, [&] {
      QTimer::singleShot(0, menu, [&] {
        shown = menu->geometry();
        menu->close();
      });
    });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    button->DropMenu();
    const QRect at(button->mapToGlobal(QPoint(0, 0)), button->size());
    if (nearEdge) {
      EXPECT_EQ(shown.x() + shown.width(), at.x() + at.width());
    } else {
      EXPECT_EQ(shown.x(), at.x());
    }
  }
}

}  // namespace
}  // namespace controls
