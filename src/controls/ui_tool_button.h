// A drop-down tool button whose menu drops only for a plain left press (no Shift, Ctrl
// or Alt, not the second press of a double click) and not while it has no items. The menu
// is filled anew just before it drops. It drops below the button's bottom-left corner; one
// as wide as its widest caption plus kMenuExtraWidth that would pass the right edge of the
// screen's work area there is moved left to end at the button's right edge.
#pragma once

#include <QToolButton>
#include <functional>

class QMouseEvent;

namespace controls {

class TUiToolButton : public QToolButton {
 public:
  static constexpr int kMenuExtraWidth = 56;  // check mark and margins beside the caption

  explicit TUiToolButton(QWidget* parent = nullptr);
  std::function<void()> OnBeforeDrop;
  // Drops the menu as a plain left press does (the keyboard's way to it).
  void DropMenu();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaceMenu(QMenu& menu) const;
};

}  // namespace controls
