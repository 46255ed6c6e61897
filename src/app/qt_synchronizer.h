// The hand-off of the serial component's reports to the user-interface thread.
#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/ser_sync.h"

namespace app {

// Runs handed-off calls on the thread of the context object (the user-interface
// thread) from its event processing, so they run also inside modal loops (message
// boxes, the file dialog), one at a time and in the order handed off. The handing
// thread blocks until its call has run.
//
// Shutdown() releases every blocked caller and makes later calls return at once
// without running, so a background thread that hands off a report while the window
// is closing never holds up the shutdown.
class TQtSynchronizer : public serial::ISerSynchronizer {
 public:
  // context must live on the user-interface thread and outlive this object.
  explicit TQtSynchronizer(QObject* context);
  ~TQtSynchronizer() override;
  TQtSynchronizer(const TQtSynchronizer&) = delete;
  TQtSynchronizer& operator=(const TQtSynchronizer&) = delete;

  void Synchronize(const std::function<void()>& call) override;
  void Shutdown();
  bool IsShutDown() const;

 private:
  struct TShared {
    std::mutex mutex;
    std::condition_variable done;
    bool shutDown = false;
  };

  QObject* context_;
  std::shared_ptr<TShared> shared_ = std::make_shared<TShared>();
};

}  // namespace app
