// The component's two background threads and what they share with it. Internal to the
// serial library.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/ser_comm.h"

namespace serial {

// What the threads of one opening share with the component. The threads own it (and the
// device) through shared_ptr, so nothing they touch goes away under them; `owner` is
// cleared when the component closes, after which every handed-off call is a no-op.
struct TSerLink : std::enable_shared_from_this<TSerLink> {
  std::mutex mutex;
  std::condition_variable changed;
  TSerCustomComm* owner = nullptr;  // read and cleared on the user-interface thread only
  bool closed = false;
  int running = 0;  // threads of this opening that have not ended
  int parked = 0;   // of those, threads blocked in a hand-off
  std::shared_ptr<TSerDevice> device;
  ISerSynchronizer* sync = nullptr;
  std::shared_ptr<ISerSynchronizer> syncShared;  // keeps a shared synchronizer alive
  std::mutex unsynchronized;                     // serialises reports without a synchronizer
  std::atomic<bool> wantTxEmpty{false};          // OnTxEmpty set or listeners attached

  // Runs fn(owner) on the user-interface thread and returns once it has run. Does nothing
  // once the component has closed. Returns false when it did not hand the call over.
  bool HandOff(const std::function<void(TSerCustomComm&)>& fn);
  void ThreadStarted();
  void ThreadEnded();
  // Marks the opening closed: no hand-off starts any more, and running ones become no-ops.
  void Close();
  // Every thread of this opening has ended or sits blocked in a hand-off (where, once
  // released, it only ends).
  bool Quiet();
  void WaitQuiet();
  bool Ended();
};

// Fixed-capacity byte buffer of the write thread.
class TSerCommBuffer {
 public:
  explicit TSerCommBuffer(std::int32_t capacity)
      : data_(static_cast<std::size_t>(capacity > 0 ? capacity : 0)) {}
  std::uint8_t* Data() { return data_.data(); }
  std::int32_t Capacity() const { return static_cast<std::int32_t>(data_.size()); }
  std::int32_t Count() const { return count_; }
  void Append(const void* p, std::int32_t n);
  void Consume(std::int32_t n);

 private:
  std::vector<std::uint8_t> data_;
  std::int32_t count_ = 0;
};

// Runs thread's loop on a detached thread that owns it (and through the link the
// device) until the loop ends, so Close never has to wait for it.
template <class Thread>
std::shared_ptr<Thread> RunDetached(std::shared_ptr<Thread> thread, TSerLink& link);

class TSerCommEventThread : public std::enable_shared_from_this<TSerCommEventThread> {
 public:
  static std::shared_ptr<TSerCommEventThread> Start(std::shared_ptr<TSerLink> link,
                                                    TThreadPriority priority);
  // Sets the terminate flag and wakes the device wait. Does not wait for the thread.
  void Terminate();
  void SetPriority(TThreadPriority priority) { priority_ = priority; }

 private:
  explicit TSerCommEventThread(std::shared_ptr<TSerLink> link, TThreadPriority priority)
      : link_(std::move(link)), priority_(priority) {}
  template <class Thread>
  friend std::shared_ptr<Thread> RunDetached(std::shared_ptr<Thread>, TSerLink&);
  void Execute();
  void Pause(int ms);

  std::shared_ptr<TSerLink> link_;
  std::atomic<bool> terminated_{false};
  std::atomic<TThreadPriority> priority_;
  std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
};

class TSerCommWriteThread : public std::enable_shared_from_this<TSerCommWriteThread> {
 public:
  static std::shared_ptr<TSerCommWriteThread> Start(std::shared_ptr<TSerLink> link,
                                                    std::int32_t capacity,
                                                    TThreadPriority priority);
  // Queues bytes, waiting up to timeoutMs for room; false when they did not fit in time.
  bool Enqueue(const void* p, std::int32_t n, std::int32_t timeoutMs);
  // Sets the close event. Does not wait for the thread.
  void Close();
  void SetPriority(TThreadPriority priority);

 private:
  TSerCommWriteThread(std::shared_ptr<TSerLink> link, std::int32_t capacity,
                      TThreadPriority priority)
      : link_(std::move(link)), buffer_(capacity), priority_(priority) {}
  template <class Thread>
  friend std::shared_ptr<Thread> RunDetached(std::shared_ptr<Thread>, TSerLink&);
  void Execute();

  std::shared_ptr<TSerLink> link_;
  std::mutex writeLock_;               // guards buffer_, closeEvent_
  std::condition_variable dataReady_;  // bytes queued, or close
  std::condition_variable room_;       // bytes consumed
  TSerCommBuffer buffer_;
  bool closeEvent_ = false;
  std::atomic<TThreadPriority> priority_;
};

}  // namespace serial
