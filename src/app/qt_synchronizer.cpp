#include "app/qt_synchronizer.h"

#include <QMetaObject>
#include <QThread>
#include <thread>

#include "app/app_error.h"

namespace app {

TQtSynchronizer::TQtSynchronizer(QObject* context)
    : TSerHandOff(std::this_thread::get_id()), receiver_(std::make_unique<QObject>()) {
  receiver_->moveToThread(context->thread());
}

TQtSynchronizer::~TQtSynchronizer() {
  Shutdown();
}

bool TQtSynchronizer::Wake() {
  return QMetaObject::invokeMethod(
      receiver_.get(),
      [this] {
        try {
          RunQueued();
        } catch (...) {
          // Run shows every error; nothing may unwind through the event loop.
        }
      },
      Qt::QueuedConnection);
}

void TQtSynchronizer::Run(const std::function<void()>& call) {
  RunHandler(call);
}

}  // namespace app
