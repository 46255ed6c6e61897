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
  // context must live on the user-interface thread and outlive this object.
  explicit TQtSynchronizer(QObject* context);
  ~TQtSynchronizer() override;

 private:
  // A queued event per call, to an object of our own: events still queued when this
  // object goes are dropped with it.
  bool Wake() override;
  // An exception that leaves a call is shown, never unwound through the toolkit's frames.
  void Run(const std::function<void()>& call) override;

  std::unique_ptr<QObject> receiver_;
};

}  // namespace app
