// A scripted device for the component's tests: records what the component hands it and
// plays events, input bytes, line errors and failures.
#pragma once

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "serial/ser_platform.h"

namespace serial::test {

class FakeDevice : public TSerDevice {
 public:
  // Failure codes of each step (0: succeeds).
  int openRc = 0, dcbRc = 0, queuesRc = 0, timeoutsRc = 0, maskRc = 0, readRc = 0, statusRc = 0;

  int Open(const std::string& name) override {
    std::lock_guard lock(m);
    calls.push_back("Open " + name);
    if (openRc) return openRc;
    closed = false;
    return 0;
  }
  void SetOpenLine(const TSerDcb& dcb) override {
    std::lock_guard lock(m);
    openLines.push_back({dcb, closed});
  }
  void Close() override {
    std::lock_guard lock(m);
    if (closed) return;
    closed = true;
    calls.push_back("Close");
    cv.notify_all();
  }
  int ApplyDcb(const TSerDcb& dcb) override {
    std::lock_guard lock(m);
    calls.push_back("Dcb");
    if (dcbRc) return dcbRc;
    dcbs.push_back(dcb);
    return 0;
  }
  int SetupQueues(std::uint32_t in, std::uint32_t out) override {
    std::lock_guard lock(m);
    calls.push_back("Queues " + std::to_string(in) + " " + std::to_string(out));
    return queuesRc;
  }
  int SetTimeouts(std::uint32_t interval) override {
    std::lock_guard lock(m);
    calls.push_back("Timeouts " + std::to_string(interval));
    return timeoutsRc;
  }
  int SetEventMask(std::uint32_t mask) override {
    std::lock_guard lock(m);
    calls.push_back("Mask " + std::to_string(mask));
    return maskRc;
  }
  int WaitEvent(std::uint32_t& occurred) override {
    std::unique_lock lock(m);
    ++waits;
    cv.wait(lock, [this] { return closed || wake || !events.empty(); });
    if (closed || wake) {
      wake = false;
      return kSerCancelled;
    }
    occurred = events.front();
    events.pop_front();
    return 0;
  }
  void WakeWait() override {
    std::lock_guard lock(m);
    wake = true;
    cv.notify_all();
  }
  int ReadStatus(TSerStatus& status) override {
    std::lock_guard lock(m);
    status = {};
    if (statusRc) return statusRc;
    status.InQueue = static_cast<std::uint32_t>(input.size());
    status.Errors = errors;
    errors = 0;
    return 0;
  }
  int Read(void* p, std::int32_t n, std::uint32_t, std::int32_t& got) override {
    std::lock_guard lock(m);
    got = 0;
    if (readRc) return readRc;
    const auto take = std::min<std::size_t>(static_cast<std::size_t>(n), input.size());
    input.copy(static_cast<char*>(p), take);
    input.erase(0, take);
    got = static_cast<std::int32_t>(take);
    input += std::exchange(arriveDuringRead, "");  // no event of their own
    return 0;
  }
  int Write(const void* p, std::int32_t n, std::int32_t, std::int32_t& put) override {
    std::unique_lock lock(m);
    put = 0;
    ++writeCalls;
    cv.notify_all();
    cv.wait(lock, [this] { return closed || !writeBlocked; });
    if (closed) return kSerCancelled;
    if (failWrites > 0) {
      --failWrites;
      return EIO;
    }
    const auto take = std::min(n, maxPut);
    output.append(static_cast<const char*>(p), static_cast<std::size_t>(take));
    writeSizes.push_back(take);
    put = take;
    cv.notify_all();
    return 0;
  }

  // --- scripting (any thread) ---
  void Event(std::uint32_t mask, const std::string& bytes = "", std::uint32_t lineErrors = 0) {
    std::lock_guard lock(m);
    input += bytes;
    errors |= lineErrors;
    events.push_back(mask);
    cv.notify_all();
  }
  void SetWriteBlocked(bool blocked) {
    std::lock_guard lock(m);
    writeBlocked = blocked;
    cv.notify_all();
  }
  template <typename Pred>
  bool WaitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, timeout, [&] { return pred(*this); });
  }
  template <typename T>
  T Get(T FakeDevice::*field) {
    std::lock_guard lock(m);
    return this->*field;
  }

  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> calls;
  std::vector<TSerDcb> dcbs;
  struct TOpenLine {
    TSerDcb dcb;
    bool givenWhileClosed;
  };
  std::vector<TOpenLine> openLines;
  std::deque<std::uint32_t> events;
  std::string input;
  std::string arriveDuringRead;  // bytes that reach the input queue while the next read runs
  std::uint32_t errors = 0;
  std::string output;
  std::vector<std::int32_t> writeSizes;
  bool writeBlocked = false;
  int failWrites = 0;
  std::int32_t maxPut = 1 << 30;
  int writeCalls = 0;
  int waits = 0;
  bool closed = true;
  bool wake = false;
};

}  // namespace serial::test
