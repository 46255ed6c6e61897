#include "serial/ser_pump.h"

namespace serial {

TSerPumpSynchronizer::~TSerPumpSynchronizer() {
  Shutdown();
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return callers_ == 0; });
}

void TSerPumpSynchronizer::Synchronize(const std::function<void()>& call) {
  std::unique_lock lock(mutex_);
  if (shutdown_) return;
  if (pumpDepth_ > 0 && pumpThread_ == std::this_thread::get_id()) {
    // Queueing would wait for ourselves.
    lock.unlock();
    call();
    return;
  }
  auto item = std::make_shared<TItem>();
  item->call = &call;
  queue_.push_back(item);
  ++callers_;
  queued_.notify_all();
  done_.wait(lock, [&] { return item->done || shutdown_; });
  // After a shutdown the call may still be running on the pumping thread: it refers to our
  // caller's storage, so wait for it to finish.
  done_.wait(lock, [&] { return item->done || item->call == nullptr; });
  --callers_;
  done_.notify_all();
}

bool TSerPumpSynchronizer::Pump(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!queued_.wait_for(lock, timeout, [this] { return !queue_.empty() || shutdown_; }) ||
      queue_.empty())
    return false;
  const auto previousThread = pumpThread_;
  pumpThread_ = std::this_thread::get_id();
  ++pumpDepth_;
  bool ran = false;
  std::exception_ptr failure;
  while (!queue_.empty() && !failure) {
    auto item = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
      (*item->call)();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    item->done = true;
    ran = true;
    done_.notify_all();
  }
  --pumpDepth_;
  pumpThread_ = previousThread;
  lock.unlock();
  if (failure) std::rethrow_exception(failure);
  return ran;
}

void TSerPumpSynchronizer::Shutdown() {
  std::lock_guard lock(mutex_);
  shutdown_ = true;
  // Calls not yet taken by a pump will never run: release them now.
  for (auto& item : queue_) item->call = nullptr;
  queue_.clear();
  queued_.notify_all();
  done_.notify_all();
}

bool TSerPumpSynchronizer::IsShutDown() const {
  std::lock_guard lock(mutex_);
  return shutdown_;
}

}  // namespace serial
