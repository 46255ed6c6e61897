#include "serial/ser_threads.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace serial {

// ---- TSerLink ----------------------------------------------------------------------------

bool TSerLink::HandOff(const std::function<void(TSerCustomComm&)>& fn) {
  {
    std::lock_guard lock(mutex);
    if (closed) return false;
    // Blocked in a synchronizer, a thread waits for the user-interface thread and touches
    // nothing of the component until its call runs there; a call made directly is running
    // component code and must be waited for.
    if (sync) ++parked;
  }
  // Keep the link alive for the call even if the thread were to drop it meanwhile.
  auto self = shared_from_this();
  const std::function<void()> call = [self, &fn] {
    TSerCustomComm* target = nullptr;
    {
      std::lock_guard lock(self->mutex);
      if (!self->closed) target = self->owner;
    }
    if (target) fn(*target);
  };
  if (sync) {
    sync->Synchronize(call);
  } else {
    std::lock_guard lock(unsynchronized);
    call();
  }
  if (sync) {
    std::lock_guard lock(mutex);
    --parked;
  }
  changed.notify_all();
  return true;
}

void TSerLink::ThreadStarted() {
  std::lock_guard lock(mutex);
  ++running;
}

void TSerLink::ThreadEnded() {
  {
    std::lock_guard lock(mutex);
    --running;
  }
  changed.notify_all();
}

void TSerLink::Close() {
  {
    std::lock_guard lock(mutex);
    closed = true;
    owner = nullptr;
  }
  changed.notify_all();
}

bool TSerLink::Quiet() {
  std::lock_guard lock(mutex);
  return running == parked;
}

void TSerLink::WaitQuiet() {
  std::unique_lock lock(mutex);
  changed.wait(lock, [this] { return running == parked; });
}

bool TSerLink::Ended() {
  std::lock_guard lock(mutex);
  return running == 0;
}

// ---- TSerCommBuffer ----------------------------------------------------------------------

void TSerCommBuffer::Append(const void* p, std::int32_t n) {
  if (n <= 0) return;
  std::memcpy(data_.data() + count_, p, static_cast<std::size_t>(n));
  count_ += n;
}

void TSerCommBuffer::Consume(std::int32_t n) {
  if (n <= 0) return;
  if (n >= count_) {
    count_ = 0;
    return;
  }
  std::memmove(data_.data(), data_.data() + n, static_cast<std::size_t>(count_ - n));
  count_ -= n;
}

// ---- event thread ------------------------------------------------------------------------

template <class Thread>
std::shared_ptr<Thread> RunDetached(std::shared_ptr<Thread> thread, TSerLink& link) {
  link.ThreadStarted();
  try {
    std::thread([thread] { thread->Execute(); }).detach();
  } catch (...) {
    link.ThreadEnded();
    throw;
  }
  return thread;
}

std::shared_ptr<TSerCommEventThread> TSerCommEventThread::Start(std::shared_ptr<TSerLink> link,
                                                                TThreadPriority priority) {
  return RunDetached(std::shared_ptr<TSerCommEventThread>(new TSerCommEventThread(link, priority)),
                     *link);
}

void TSerCommEventThread::Terminate() {
  terminated_ = true;
  link_->device->WakeWait();
  { std::lock_guard lock(pauseMutex_); }
  pauseWake_.notify_all();
}

void TSerCommEventThread::Pause(int ms) {
  std::unique_lock lock(pauseMutex_);
  pauseWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void TSerCommEventThread::Execute() {
  TThreadPriority applied = priority_;
  SerSetCurrentThreadPriority(SerThreadPriorityValue(applied));
  int failures = 0;
  // The terminate flag is tested at the end of each pass, so the first wait is always made.
  do {
    std::uint32_t occurred = 0;
    const int rc = link_->device->WaitEvent(occurred);
    if (rc == kSerOk) {
      failures = 0;
      if (occurred != 0 && !terminated_) {
        // The dispatch works on its own copy of the mask.
        link_->HandOff([occurred](TSerCustomComm& comm) { comm.RunEventDispatch(occurred); });
      }
    } else if (rc != kSerCancelled) {
      // A wait that fails (the device has gone) would fail again at once: back off instead
      // of spinning, up to a second between tries.
      failures = failures < 10 ? failures + 1 : failures;
      Pause(failures * 100);
    }
    if (priority_ != applied) {
      applied = priority_;
      SerSetCurrentThreadPriority(SerThreadPriorityValue(applied));
    }
  } while (!terminated_);
  link_->ThreadEnded();
}

// ---- write thread ------------------------------------------------------------------------

std::shared_ptr<TSerCommWriteThread> TSerCommWriteThread::Start(std::shared_ptr<TSerLink> link,
                                                                std::int32_t capacity,
                                                                TThreadPriority priority) {
  return RunDetached(
      std::shared_ptr<TSerCommWriteThread>(new TSerCommWriteThread(link, capacity, priority)),
      *link);
}

bool TSerCommWriteThread::Enqueue(const void* p, std::int32_t n, std::int32_t timeoutMs) {
  if (n < 0) n = 0;
  std::unique_lock lock(writeLock_);
  const auto fits = [&] {
    return static_cast<std::int64_t>(buffer_.Count()) + n <= buffer_.Capacity();
  };
  if (!fits() && !room_.wait_for(lock, std::chrono::milliseconds(timeoutMs), fits)) return false;
  buffer_.Append(p, n);
  dataReady_.notify_one();
  return true;
}

void TSerCommWriteThread::Close() {
  {
    std::lock_guard lock(writeLock_);
    closeEvent_ = true;
  }
  dataReady_.notify_all();
}

void TSerCommWriteThread::SetPriority(TThreadPriority priority) {
  priority_ = priority;
  { std::lock_guard lock(writeLock_); }
  dataReady_.notify_all();
}

void TSerCommWriteThread::Execute() {
  TThreadPriority applied = priority_;
  SerSetCurrentThreadPriority(SerThreadPriorityValue(applied));
  int failures = 0;
  std::unique_lock lock(writeLock_);
  for (;;) {
    dataReady_.wait(lock,
                    [&] { return closeEvent_ || buffer_.Count() > 0 || priority_ != applied; });
    if (closeEvent_) break;
    if (priority_ != applied) {
      applied = priority_;
      SerSetCurrentThreadPriority(SerThreadPriorityValue(applied));
      continue;
    }
    // Bytes appended meanwhile lie behind these and go out together in the next pass. The
    // buffer never moves and only this thread consumes, so the snapshot stays valid.
    const std::uint8_t* data = buffer_.Data();
    const std::int32_t count = buffer_.Count();
    lock.unlock();
    std::int32_t put = 0;
    const int rc = link_->device->Write(data, count, -1, put);
    lock.lock();
    if (closeEvent_) break;
    if (rc == kSerOk) {
      failures = 0;
      buffer_.Consume(put);
      room_.notify_all();
      if (buffer_.Count() == 0 && link_->wantTxEmpty) {
        lock.unlock();
        link_->HandOff([](TSerCustomComm& comm) { comm.RunWriteReport(SerEv::TxEmpty); });
        lock.lock();
      }
    } else {
      // The bytes stay queued and are tried again. Report the failure once per run of
      // failures and back off between tries, so a device that has gone neither floods the
      // user with reports nor keeps a core busy.
      if (rc != kSerCancelled && failures == 0) {
        lock.unlock();
        link_->HandOff([](TSerCustomComm& comm) { comm.RunWriteReport(SerEv::Err); });
        lock.lock();
      }
      failures = failures < 10 ? failures + 1 : failures;
      dataReady_.wait_for(lock, std::chrono::milliseconds(failures * 100),
                          [this] { return closeEvent_; });
    }
  }
  lock.unlock();
  link_->ThreadEnded();
}

}  // namespace serial
