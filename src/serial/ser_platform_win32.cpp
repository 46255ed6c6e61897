// The serial device on the Windows communications functions: overlapped I/O on a handle
// opened exclusively, with one completion event per kind of operation and a close event
// that every wait also watches, so Close() can end the threads' calls promptly.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/utf8_win32.h"
#include "serial/port_names.h"
#include "serial/ser_platform.h"

namespace serial {
namespace {

// How long a wait that failed at once holds the event thread before it reports the error,
// so a device that has gone away does not make the thread spin.
constexpr DWORD kFailedWaitPauseMs = 50;

class TEventHandle {
 public:
  TEventHandle() : h_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~TEventHandle() {
    if (h_) CloseHandle(h_);
  }
  TEventHandle(const TEventHandle&) = delete;
  TEventHandle& operator=(const TEventHandle&) = delete;
  HANDLE get() const { return h_; }
  bool IsSet() const { return WaitForSingleObject(h_, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE h_;
};

class TSerDeviceWin32 final : public TSerDevice {
 public:
  ~TSerDeviceWin32() override { Close(); }

  int Open(const std::string& name) override {
    std::unique_lock lock(mutex_);
    if (handle_ != INVALID_HANDLE_VALUE) return ERROR_ALREADY_EXISTS;
    if (!readDone_.get() || !writeDone_.get() || !waitDone_.get() || !wake_.get() ||
        !closing_.get())
      return ERROR_NOT_ENOUGH_MEMORY;
    const std::string path = ResolveDevicePath(name);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    ResetEvent(closing_.get());
    ResetEvent(wake_.get());
    checkQueue_ = false;
    keptErrors_ = 0;
    handle_ = h;
    return kSerOk;
  }

  void Close() override {
    std::unique_lock lock(mutex_);
    if (handle_ == INVALID_HANDLE_VALUE || closingNow_) return;
    closingNow_ = true;
    // Each call inside sees the close event, cancels its own request and waits for it to
    // end before it leaves; only then may the handle go.
    SetEvent(closing_.get());
    left_.wait(lock, [this] { return inside_ == 0; });
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    closingNow_ = false;
  }

  int ApplyDcb(const TSerDcb& d) override {
    return Call([&](HANDLE h) {
      DCB dcb{};
      dcb.DCBlength = sizeof(DCB);
      dcb.BaudRate = d.BaudRate;
      const auto bit = [&](std::uint32_t mask) -> DWORD { return (d.Flags & mask) ? 1 : 0; };
      dcb.fBinary = bit(SerDcbFlag::fBinary);
      dcb.fParity = bit(SerDcbFlag::fParity);
      dcb.fOutxCtsFlow = bit(SerDcbFlag::fOutxCtsFlow);
      dcb.fOutxDsrFlow = bit(SerDcbFlag::fOutxDsrFlow);
      dcb.fDtrControl = (d.Flags & SerDcbFlag::fDtrControlMask) >> SerDcbFlag::fDtrControlShift;
      dcb.fDsrSensitivity = bit(SerDcbFlag::fDsrSensitivity);
      dcb.fTXContinueOnXoff = bit(SerDcbFlag::fTXContinueOnXoff);
      dcb.fOutX = bit(SerDcbFlag::fOutX);
      dcb.fInX = bit(SerDcbFlag::fInX);
      dcb.fErrorChar = bit(SerDcbFlag::fErrorChar);
      dcb.fNull = bit(SerDcbFlag::fNull);
      dcb.fRtsControl = (d.Flags & SerDcbFlag::fRtsControlMask) >> SerDcbFlag::fRtsControlShift;
      dcb.fAbortOnError = bit(SerDcbFlag::fAbortOnError);
      dcb.XonLim = d.XonLim;
      dcb.XoffLim = d.XoffLim;
      dcb.ByteSize = d.ByteSize;
      dcb.Parity = d.Parity;
      dcb.StopBits = d.StopBits;
      dcb.XonChar = static_cast<char>(d.XonChar);
      dcb.XoffChar = static_cast<char>(d.XoffChar);
      dcb.ErrorChar = static_cast<char>(d.ErrorChar);
      dcb.EofChar = static_cast<char>(d.EofChar);
      dcb.EvtChar = static_cast<char>(d.EvtChar);
      return SetCommState(h, &dcb) ? kSerOk : LastError();
    });
  }

  int SetupQueues(std::uint32_t inSize, std::uint32_t outSize) override {
    return Call([&](HANDLE h) { return SetupComm(h, inSize, outSize) ? kSerOk : LastError(); });
  }

  int SetTimeouts(std::uint32_t readIntervalMs) override {
    return Call([&](HANDLE h) {
      COMMTIMEOUTS t{};
      t.ReadIntervalTimeout = readIntervalMs;
      return SetCommTimeouts(h, &t) ? kSerOk : LastError();
    });
  }

  int SetEventMask(std::uint32_t mask) override {
    return Call([&](HANDLE h) {
      if (!SetCommMask(h, mask)) return LastError();
      eventMask_ = mask;
      checkQueue_ = true;
      return kSerOk;
    });
  }

  int WaitEvent(std::uint32_t& occurred) override {
    occurred = 0;
    return Call([&](HANDLE h) {
      if (wake_.IsSet()) {
        ResetEvent(wake_.get());
        return kSerCancelled;
      }
      // WaitCommEvent reports bytes that arrive once it waits: those already waiting (an
      // announcement that came with the open, or while the last report was handled) would
      // lie unnoticed until another byte came.
      if (checkQueue_.exchange(false)) {
        if (const int rc = WaitingEvents(h, occurred); rc != kSerOk || occurred != 0) return rc;
      }
      checkQueue_ = true;
      DWORD mask = 0;
      OVERLAPPED ov{};
      ov.hEvent = waitDone_.get();
      if (WaitCommEvent(h, &mask, &ov)) {
        occurred = mask;
        return kSerOk;
      }
      DWORD err = GetLastError();
      if (err != ERROR_IO_PENDING) return PauseAfterFailure(static_cast<int>(err));
      const HANDLE objs[] = {waitDone_.get(), wake_.get(), closing_.get()};
      const DWORD w = WaitForMultipleObjects(3, objs, FALSE, INFINITE);
      if (w != WAIT_OBJECT_0) {
        // Not every driver lets a wait be cancelled (Wine's does not); setting the event
        // mask again is the documented way to end a pending wait, with no events.
        CancelIoEx(h, &ov);
        if (!waitDone_.IsSet()) SetCommMask(h, eventMask_.load());
      }
      // The request writes into `mask` and `ov` until it has ended, done or cancelled.
      DWORD unused = 0;
      const BOOL ok = GetOverlappedResult(h, &ov, &unused, TRUE);
      err = ok ? ERROR_SUCCESS : GetLastError();
      if (ok && mask != 0) {
        // Events that arrived just as we were woken are still reported; the wake request
        // stays set and ends the next call.
        occurred = mask;
        return kSerOk;
      }
      if (w == WAIT_OBJECT_0 + 1) {
        ResetEvent(wake_.get());
        return kSerCancelled;
      }
      if (w == WAIT_OBJECT_0 + 2) return kSerCancelled;
      if (!ok) return PauseAfterFailure(static_cast<int>(err));
      return kSerOk;
    });
  }

  void WakeWait() override { SetEvent(wake_.get()); }

  int ReadStatus(TSerStatus& status) override {
    status = {};
    return Call([&](HANDLE h) {
      DWORD errors = 0;
      COMSTAT stat{};
      if (!ClearCommError(h, &errors, &stat)) return LastError();
      status.Errors = errors | keptErrors_.exchange(0);
      status.InQueue = stat.cbInQue;
      return kSerOk;
    });
  }

  int Read(void* p, std::int32_t n, std::uint32_t timeoutMs, std::int32_t& got) override {
    got = 0;
    return Call([&](HANDLE h) {
      return Transfer(h, readDone_.get(), static_cast<DWORD>(timeoutMs), got,
                      [&](OVERLAPPED* ov, DWORD* count) {
                        return ReadFile(h, p, static_cast<DWORD>(n), count, ov);
                      });
    });
  }

  int Write(const void* p, std::int32_t n, std::int32_t timeoutMs, std::int32_t& put) override {
    put = 0;
    return Call([&](HANDLE h) {
      return Transfer(h, writeDone_.get(), timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs),
                      put, [&](OVERLAPPED* ov, DWORD* count) {
                        return WriteFile(h, p, static_cast<DWORD>(n), count, ov);
                      });
    });
  }

 private:
  static int LastError() { return static_cast<int>(GetLastError()); }

  // Received data already in the input queue, as the received-character event. The query
  // clears the line error flags: they are kept for the next ReadStatus and reported as the
  // error event, so that looking at the queue loses none.
  int WaitingEvents(HANDLE h, std::uint32_t& occurred) {
    occurred = 0;
    const DWORD mask = eventMask_.load();
    if (!(mask & SerEv::RxChar)) return kSerOk;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(h, &errors, &stat)) return PauseAfterFailure(LastError());
    keptErrors_ |= errors;
    if (stat.cbInQue != 0) occurred |= SerEv::RxChar;
    if (errors != 0 && (mask & SerEv::Err)) occurred |= SerEv::Err;
    return kSerOk;
  }

  // Runs fn(handle) as a call "inside" the open device: Close() waits for it to leave.
  template <typename Fn>
  int Call(Fn&& fn) {
    HANDLE h;
    {
      std::lock_guard lock(mutex_);
      if (handle_ == INVALID_HANDLE_VALUE || closingNow_) return kSerCancelled;
      h = handle_;
      ++inside_;
    }
    int rc = fn(h);
    {
      std::lock_guard lock(mutex_);
      if (--inside_ == 0) left_.notify_all();
    }
    return rc;
  }

  // One overlapped read or write, bounded by `timeout` and by Close(). An unfinished request
  // is cancelled and waited for, so it never touches the caller's buffer afterwards; what it
  // did transfer before it ended is counted.
  template <typename Start>
  int Transfer(HANDLE h, HANDLE done, DWORD timeout, std::int32_t& count, Start&& start) {
    OVERLAPPED ov{};
    ov.hEvent = done;
    DWORD n = 0;
    if (start(&ov, &n)) {
      count = static_cast<std::int32_t>(n);
      return kSerOk;
    }
    DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) return static_cast<int>(err);
    const HANDLE objs[] = {done, closing_.get()};
    DWORD w = WaitForMultipleObjects(2, objs, FALSE, timeout);
    if (w != WAIT_OBJECT_0) CancelIoEx(h, &ov);
    n = 0;
    BOOL ok = GetOverlappedResult(h, &ov, &n, TRUE);
    err = ok ? ERROR_SUCCESS : GetLastError();
    count = static_cast<std::int32_t>(ok ? n : ov.InternalHigh);
    if (w == WAIT_OBJECT_0 + 1) return kSerCancelled;
    if (ok || err == ERROR_OPERATION_ABORTED) return kSerOk;  // done, or timed out
    return static_cast<int>(err);
  }

  // Holds the event thread briefly before it reports a failed wait; a wake or close ends
  // the pause at once.
  int PauseAfterFailure(int err) {
    const HANDLE objs[] = {wake_.get(), closing_.get()};
    DWORD w = WaitForMultipleObjects(2, objs, FALSE, kFailedWaitPauseMs);
    if (w == WAIT_OBJECT_0) {
      ResetEvent(wake_.get());
      return kSerCancelled;
    }
    if (w == WAIT_OBJECT_0 + 1) return kSerCancelled;
    return err;
  }

  std::mutex mutex_;
  std::condition_variable left_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  int inside_ = 0;
  bool closingNow_ = false;
  std::atomic<DWORD> eventMask_{0};
  // Set by the event mask and by every wait: the next call looks at the queue before it waits.
  std::atomic<bool> checkQueue_{false};
  std::atomic<DWORD> keptErrors_{0};
  TEventHandle readDone_, writeDone_, waitDone_, wake_, closing_;
};

}  // namespace

std::shared_ptr<TSerDevice> CreateSerDevice() {
  return std::make_shared<TSerDeviceWin32>();
}

bool SerIsNotFound(int code) {
  return code == ERROR_FILE_NOT_FOUND;
}

bool SerIsDeviceGone(int code) {
  // A pulled USB adapter answers with one of these, depending on its driver.
  return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND || code == ERROR_GEN_FAILURE ||
         code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_DEVICE_REMOVED;
}

// Access to a COM port is not granted by group membership: a refusal there means that
// another program holds the port, which the system text already says.
std::string SerAccessHint(int, const std::string&) {
  return "";
}

void SerSetCurrentThreadPriority(int osPriority) {
  SetThreadPriority(GetCurrentThread(), osPriority);
}

}  // namespace serial
