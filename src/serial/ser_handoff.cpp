#include "serial/ser_handoff.h"

#include <algorithm>

namespace serial {

TSerHandOff::TSerHandOff(std::thread::id owner) : owner_(owner) {}

TSerHandOff::~TSerHandOff() {
  Shutdown();
  // A released caller still has to leave Synchronize, which touches these members.
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return callers_ == 0; });
}

bool TSerHandOff::OnServingThread() const {
  const auto self = std::this_thread::get_id();
  return self == owner_ || (servingDepth_ > 0 && servingThread_ == self);
}

void TSerHandOff::Synchronize(const std::function<void()>& call) {
  std::unique_lock lock(mutex_);
  if (shutDown_) return;
  if (OnServingThread()) {
    // Queueing would wait for ourselves.
    lock.unlock();
    Run(call);
    return;
  }
  auto item = std::make_shared<TItem>();
  item->call = &call;
  queue_.push_back(item);
  queued_.notify_all();
  if (!Wake()) {
    // Nothing would ever run it, and waiting for it would never end.
    std::erase(queue_, item);
    return;
  }
  ++callers_;
  done_.wait(lock, [&] { return item->done || item->call == nullptr; });
  --callers_;
  // The destructor may be waiting for the last caller to leave.
  done_.notify_all();
}

bool TSerHandOff::RunQueued(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!queued_.wait_for(lock, timeout, [this] { return !queue_.empty() || shutDown_; }) ||
      queue_.empty())
    return false;
  const auto previousThread = servingThread_;
  servingThread_ = std::this_thread::get_id();
  ++servingDepth_;
  bool ran = false;
  std::exception_ptr failure;
  while (!queue_.empty() && !failure) {
    auto item = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
      Run(*item->call);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    item->done = true;
    ran = true;
    done_.notify_all();
  }
  --servingDepth_;
  servingThread_ = previousThread;
  lock.unlock();
  if (failure) std::rethrow_exception(failure);
  return ran;
}

void TSerHandOff::Shutdown() {
  std::lock_guard lock(mutex_);
  shutDown_ = true;
  // Calls not yet taken will never run: release their callers now. A call already taken
  // finishes, and its caller with it.
  for (auto& item : queue_) item->call = nullptr;
  queue_.clear();
  queued_.notify_all();
  done_.notify_all();
}

bool TSerHandOff::IsShutDown() const {
  std::lock_guard lock(mutex_);
  return shutDown_;
}

int TSerHandOff::Waiting() const {
  std::lock_guard lock(mutex_);
  return callers_;
}

}  // namespace serial
