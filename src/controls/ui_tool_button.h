// A drop-down tool button whose menu drops only for a plain left press (no Shift, Ctrl
// or Alt, not the second press of a double click) and not while it has no items. The menu
// is filled anew just before it drops.
#pragma once

#include <QToolButton>
#include <functional>

class QMouseEvent;

namespace controls {

class TUiToolButton : public QToolButton {
 public:
  using QToolButton::QToolButton;
  std::function<void()> OnBeforeDrop;
  // Drops the menu as a plain left press does (the keyboard's way to it).
  void DropMenu();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace controls
