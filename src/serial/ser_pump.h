// A synchronizer for programs without a window (the command line, tests): background
// threads queue their calls, and the thread that owns the component runs them by calling
// Pump from its own loop.
#pragma once

#include <chrono>

#include "serial/ser_handoff.h"

namespace serial {

class TSerPumpSynchronizer : public TSerHandOff {
 public:
  TSerPumpSynchronizer() = default;
  ~TSerPumpSynchronizer() override { Shutdown(); }

  // Runs the queued calls on the calling thread, in the order they were queued, waiting up
  // to `timeout` for the first. Returns whether it ran any. An exception from a call is
  // passed on after its caller has been released. May be called from inside a call (a
  // nested loop); a call handed off from inside a call being run there runs at once.
  bool Pump(std::chrono::milliseconds timeout) { return RunQueued(timeout); }

 private:
  // The pumping thread waits on the hand-off's own signal: nothing more to wake.
  bool Wake() override { return true; }
};

}  // namespace serial
