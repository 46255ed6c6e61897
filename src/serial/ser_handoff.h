// The blocking hand-off that every synchronizer shares: the queue of waiting callers, the
// shut-down that releases them and the count that keeps the object alive until the last
// released caller has left. A synchronizer adds only its way of waking the thread that
// serves the calls (a pump's own wait, a posted window message, a queued toolkit event).
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

class TSerHandOff : public ISerSynchronizer {
 public:
  TSerHandOff(const TSerHandOff&) = delete;
  TSerHandOff& operator=(const TSerHandOff&) = delete;
  // Shuts down and waits until every caller has left Synchronize. A derived class calls
  // Shutdown first, in its own destructor, so that Wake is never called on it half gone.
  ~TSerHandOff() override;

  // Queues `call`, wakes the serving thread and blocks until that thread has run it or
  // Shutdown has released it. A caller whose call is already running when Shutdown comes
  // waits until it has finished, since the call may refer to the caller's storage. Called
  // on the serving thread (the owner, or inside a call being run), it runs at once.
  void Synchronize(const std::function<void()>& call) override;

  // Releases every blocked caller without running its call; later callers return at once.
  void Shutdown();
  bool IsShutDown() const;
  // How many callers are blocked in Synchronize now.
  int Waiting() const;

 protected:
  // `owner`: the thread whose own calls run at once (the user-interface thread); none for
  // a pump, which serves whichever thread calls RunQueued.
  explicit TSerHandOff(std::thread::id owner = {});

  // Runs the queued calls on the calling thread, in the order they were queued, waiting up
  // to `timeout` for the first. Returns whether it ran any. An exception from a call ends
  // the run and is passed on after its caller has been released. May be called from
  // inside a call (a nested loop).
  bool RunQueued(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

  // Called with the hand-off's lock held, once a call has been queued: makes the serving
  // thread call RunQueued soon. Returns false when that thread cannot be reached; the
  // call is then withdrawn and its caller returns at once. Must not block.
  virtual bool Wake() = 0;
  // Runs one call on the serving thread; the default just calls it.
  virtual void Run(const std::function<void()>& call) { call(); }

 private:
  struct TItem {
    const std::function<void()>* call;  // null once released without running
    bool done = false;
  };

  bool OnServingThread() const;

  mutable std::mutex mutex_;
  std::condition_variable queued_;  // a call was queued, or shut down
  std::condition_variable done_;    // a call has run or been released, or a caller left
  std::deque<std::shared_ptr<TItem>> queue_;
  bool shutDown_ = false;
  int callers_ = 0;  // threads inside Synchronize, waiting for their call
  const std::thread::id owner_;
  int servingDepth_ = 0;
  std::thread::id servingThread_;
};

}  // namespace serial
