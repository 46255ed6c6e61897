#include "app/qt_synchronizer.h"

#include <QMetaObject>
#include <QThread>

#include "app/app_error.h"

namespace app {

namespace {

// One handed-off call. Whatever happens to the queued call (run, or dropped because
// its context went away), the destructor of its Completion wakes the caller.
struct TPending {
  bool finished = false;
};

}  // namespace

TQtSynchronizer::TQtSynchronizer(QObject* context) : context_(context) {}

TQtSynchronizer::~TQtSynchronizer() {
  Shutdown();
}

void TQtSynchronizer::Shutdown() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->shutDown = true;
  }
  shared_->done.notify_all();
}

bool TQtSynchronizer::IsShutDown() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->shutDown;
}

void TQtSynchronizer::Synchronize(const std::function<void()>& call) {
  if (QThread::currentThread() == context_->thread()) {
    // Already on the user-interface thread: blocking would wait for ourselves.
    if (!IsShutDown()) call();
    return;
  }
  auto shared = shared_;
  auto pending = std::make_shared<TPending>();
  {
    std::lock_guard lock(shared->mutex);
    if (shared->shutDown) return;
  }

  // Marks the call finished when the queued functor is destroyed, run or not.
  struct TCompletion {
    TCompletion(std::shared_ptr<TShared> s, std::shared_ptr<TPending> p)
        : shared(std::move(s)), pending(std::move(p)) {}
    TCompletion(const TCompletion&) = delete;
    TCompletion& operator=(const TCompletion&) = delete;
    std::shared_ptr<TShared> shared;
    std::shared_ptr<TPending> pending;
    ~TCompletion() {
      {
        std::lock_guard lock(shared->mutex);
        pending->finished = true;
      }
      shared->done.notify_all();
    }
  };
  auto completion = std::make_shared<TCompletion>(shared, pending);

  QMetaObject::invokeMethod(
      context_,
      [completion, call]() {
        {
          std::lock_guard lock(completion->shared->mutex);
          if (completion->shared->shutDown) return;
        }
        RunHandler(call);
      },
      Qt::QueuedConnection);
  completion.reset();  // from now on only the queued functor holds it

  std::unique_lock lock(shared->mutex);
  shared->done.wait(lock, [&] { return pending->finished || shared->shutDown; });
}

}  // namespace app
