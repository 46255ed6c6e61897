#include "app/qt_synchronizer.h"

#include <QMetaObject>
#include <QThread>
#include <thread>
#include <utility>

namespace app {

TQtSynchronizer::TQtSynchronizer(QObject* context, TRunner runner)
    : TSerHandOff(std::this_thread::get_id()),
      runner_(std::move(runner)),
      receiver_(std::make_unique<QObject>()) {
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
          // The runner shows what matters; nothing may unwind through the event loop.
        }
      },
      Qt::QueuedConnection);
}

void TQtSynchronizer::Run(const std::function<void()>& call) {
  if (runner_) {
    runner_(call);
  } else {
    call();
  }
}

}  // namespace app
