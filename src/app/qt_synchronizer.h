// The hand-off of the serial component's reports to the user-interface thread.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "serial/ser_handoff.h"

namespace app {

// Runs handed-off calls on the thread of the context object (the user-interface
// thread) from its event processing, so they run also inside modal loops (message
// boxes, the file dialog), one at a time and in the order handed off. The handing
// thread blocks until its call has run.
//
// Shutdown() releases every blocked caller and makes later calls return at once
// without running, so a background thread that hands off a report while the window
// is closing never holds up the shutdown.
class TQtSynchronizer : public serial::TSerHandOff {
 public:
  // Runs one call on the user-interface thread; it decides what an exception that leaves
  // the call means (the window shows it through its logic's one handler). By default the
  // call just runs, and an exception that leaves it goes no further.
  using TRunner = std::function<void(const std::function<void()>&)>;

  // context must live on the user-interface thread and outlive this object.
  explicit TQtSynchronizer(QObject* context, TRunner runner = {});
  ~TQtSynchronizer() override;

 private:
  // A queued event per call, to an object of our own: events still queued when this
  // object goes are dropped with it.
  bool Wake() override;
  void Run(const std::function<void()>& call) override;

  TRunner runner_;
  std::unique_ptr<QObject> receiver_;
};

}  // namespace app
