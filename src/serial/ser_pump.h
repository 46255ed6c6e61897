// A synchronizer for programs without a window (the command line, tests): background
// threads queue their calls, and the thread that owns the component runs them by calling
// Pump from its own loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/ser_sync.h"

namespace serial {

class TSerPumpSynchronizer : public ISerSynchronizer {
 public:
  TSerPumpSynchronizer() = default;
  TSerPumpSynchronizer(const TSerPumpSynchronizer&) = delete;
  TSerPumpSynchronizer& operator=(const TSerPumpSynchronizer&) = delete;
  // Shuts down and waits until every caller has left Synchronize.
  ~TSerPumpSynchronizer() override;

  // Queues `call` and blocks until a Pump has run it or Shutdown has released it. Called
  // from inside a call that Pump is running (on the pumping thread), it runs at once.
  void Synchronize(const std::function<void()>& call) override;

  // Runs the queued calls on the calling thread, in the order they were queued, waiting up
  // to `timeout` for the first one. Returns whether it ran any. An exception from a call is
  // passed on after its caller has been released. May be called from inside a call (a
  // nested loop).
  bool Pump(std::chrono::milliseconds timeout);

  // Releases every blocked caller without running its call; later callers return at once.
  void Shutdown();
  bool IsShutDown() const;

 private:
  struct TItem {
    const std::function<void()>* call;
    bool done = false;
  };

  mutable std::mutex mutex_;
  std::condition_variable queued_;  // a call was queued, or shut down
  std::condition_variable done_;    // a call has run or been released
  std::deque<std::shared_ptr<TItem>> queue_;
  bool shutdown_ = false;
  int callers_ = 0;
  int pumpDepth_ = 0;
  std::thread::id pumpThread_;
};

}  // namespace serial
