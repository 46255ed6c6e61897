#include "controls/ui_balloon_hints.h"

#include <QCoreApplication>
#include <QHelpEvent>
#include <QPalette>
#include <QProxyStyle>
#include <QToolTip>

namespace controls {

namespace {

// Hint timing: the first hint after 500 ms at rest (the style below); while one is
// showing, the next control's hint follows after 50 ms (THintFollowUp).
class TBalloonHintStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    switch (hint) {
      case SH_ToolTip_WakeUpDelay:
        return 500;
      case SH_ToolTip_FallAsleepDelay:
        return 2500;
      default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
  }
};

}  // namespace

THintFollowUp::THintFollowUp(QObject* parent) : QObject(parent) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { ShowPending(); });
}

bool THintFollowUp::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::ToolTip: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget == nullptr || redelivering_ || !QToolTip::isVisible()) break;
      // The toolkit wakes the next hint 20 ms after the pointer reaches a control
      // while a hint is showing; hold it for the rest of the 50 ms.
      const auto* help = static_cast<QHelpEvent*>(event);
      pendingWidget_ = widget;
      pendingPos_ = help->pos();
      pendingGlobalPos_ = help->globalPos();
      timer_.start(kFollowUpMs - kToolkitFollowUpMs);
      return true;
    }
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
      if (watched == pendingWidget_) {
        timer_.stop();
        pendingWidget_.clear();
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void THintFollowUp::ShowPending() {
  QWidget* widget = pendingWidget_.data();
  pendingWidget_.clear();
  if (widget == nullptr || !widget->isVisible()) return;
  QHelpEvent help(QEvent::ToolTip, pendingPos_, pendingGlobalPos_);
  redelivering_ = true;
  QCoreApplication::sendEvent(widget, &help);
  redelivering_ = false;
}

void InstallBalloonHints(QApplication& application) {
  application.setStyle(new TBalloonHintStyle());
  application.installEventFilter(new THintFollowUp(&application));
  QPalette hints = QToolTip::palette();
  hints.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));  // the info colour
  hints.setColor(QPalette::ToolTipText, Qt::black);
  QToolTip::setPalette(hints);
  QPalette palette = application.palette();
  palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  application.setPalette(palette);
}

}  // namespace controls
