#include "app/loader_application.h"

#include <QPalette>
#include <QProxyStyle>
#include <QToolTip>
#include <stdexcept>

#include "app/app_error.h"

namespace app {

namespace {

// Hint timing: the first hint after 500 ms at rest; while one is showing, moving to
// the next control shows its hint almost at once (the toolkit's quick follow-up).
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

TLoaderApplication::TLoaderApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromUtf8(kAppTitle));
  InstallBalloonHints(*this);
}

bool TLoaderApplication::notify(QObject* receiver, QEvent* event) {
  // An exception must not unwind through the event loop: show it and go on, with
  // the rest of the failed handler skipped.
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error"));
  }
  return false;
}

void InstallBalloonHints(QApplication& application) {
  application.setStyle(new TBalloonHintStyle());
  QPalette hints = QToolTip::palette();
  hints.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));  // the info colour
  hints.setColor(QPalette::ToolTipText, Qt::black);
  QToolTip::setPalette(hints);
  QPalette palette = application.palette();
  palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  application.setPalette(palette);
}

}  // namespace app
