// The device layer on POSIX terminals (Linux): termios2 for the line at any bit rate, epoll for
// line events, eventfds to end waits.
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/port_names.h"
#include "serial/ser_platform.h"
#include "serial/ser_termios2.h"

namespace serial {

namespace {

using TClock = std::chrono::steady_clock;

int RemainingMs(TClock::time_point deadline) {
  // Rounded up, so that a wait never ends before its deadline.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left > 0x7FFFFFFF ? 0x7FFFFFFF : left);
}

// Waits for `fds` with a time-out in milliseconds (< 0: none); EINTR restarts the wait with
// what is left. Returns ppoll's result.
int PollFor(pollfd* fds, nfds_t count, int timeoutMs) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    timespec ts{};
    timespec* tsp = nullptr;
    if (timeoutMs >= 0) {
      const int left = RemainingMs(deadline);
      ts.tv_sec = left / 1000;
      ts.tv_nsec = static_cast<long>(left % 1000) * 1000000L;
      tsp = &ts;
    }
    const int rc = ppoll(fds, count, tsp, nullptr);
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

class TPosixDevice final : public TSerDevice {
 public:
  ~TPosixDevice() override { Close(); }

  int Open(const std::string& name) override {
    std::unique_lock lock(mutex_);
    if (fd_ >= 0) return EBUSY;
    const std::string path = ResolveDevicePath(name);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = Prepare(fd);
    if (err != 0) {
      ::close(fd);
      return err;
    }
    RequestLowLatency(fd);
    fd_ = fd;
    closed_ = false;
    hungUp_ = false;
    return 0;
  }

  void Close() override {
    std::unique_lock lock(mutex_);
    if (fd_ < 0) return;
    closed_ = true;
    const std::uint64_t one = 1;
    // Wakes every wait of ours; the counter stays readable, so later waits end at once too.
    [[maybe_unused]] auto n = ::write(cancelFd_, &one, sizeof one);
    idle_.wait(lock, [this] { return active_ == 0; });
    // Leave the terminal open to others again (the flag outlives our descriptor), with the
    // latency it had.
    RestoreLatency();
    ioctl(fd_, TIOCNXCL);
    ::close(epollFd_);
    ::close(wakeFd_);
    ::close(cancelFd_);
    ::close(fd_);
    fd_ = epollFd_ = wakeFd_ = cancelFd_ = -1;
  }

  void SetOpenLine(const TSerDcb& dcb) override { openLine_ = dcb; }

  int ApplyDcb(const TSerDcb& dcb) override {
    TOp op(*this);
    if (!op) return kSerCancelled;
    return SetLine(dcb);
  }

  // The Linux tty layer has queues of its own, fixed size.
  int SetupQueues(std::uint32_t, std::uint32_t) override {
    TOp op(*this);
    return op ? 0 : kSerCancelled;
  }

  int SetTimeouts(std::uint32_t readIntervalMs) override {
    TOp op(*this);
    if (!op) return kSerCancelled;
    interval_ = readIntervalMs;
    return 0;
  }

  // Only received data and line trouble (errors, hang-up) are reported here; modem-line
  // changes are not watched.
  int SetEventMask(std::uint32_t mask) override {
    TOp op(*this);
    if (!op) return kSerCancelled;
    mask_ = mask;
    return 0;
  }

  int WaitEvent(std::uint32_t& occurred) override {
    occurred = 0;
    TOp op(*this);
    if (!op) return kSerCancelled;
    if (hungUp_) return WaitWhileHungUp();
    epoll_event events[4];
    int n;
    do {
      n = epoll_wait(epollFd_, events, 4, -1);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno;
    std::uint32_t seen = 0;
    bool cancelled = false;
    for (int i = 0; i < n; ++i) {
      const int tag = events[i].data.fd;
      if (tag == cancelFd_) {
        cancelled = true;
      } else if (tag == wakeFd_) {
        std::uint64_t value;
        [[maybe_unused]] auto r = ::read(wakeFd_, &value, sizeof value);
        cancelled = true;
      } else {
        if (events[i].events & EPOLLIN) seen |= SerEv::RxChar;
        if (events[i].events & (EPOLLHUP | EPOLLERR)) {
          // Reported once; after that only wake-ups and a slow re-check, never a spin.
          hungUp_ = true;
          seen |= SerEv::Err;
        }
      }
    }
    if (cancelled) return kSerCancelled;
    occurred = seen & mask_;
    return 0;
  }

  void WakeWait() override {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
  }

  int ReadStatus(TSerStatus& status) override {
    status = {};
    TOp op(*this);
    if (!op) return kSerCancelled;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) return errno;
    status.InQueue = waiting > 0 ? static_cast<std::uint32_t>(waiting) : 0;
    status.Errors = LineErrors();
    return 0;
  }

  int Read(void* p, std::int32_t n, std::uint32_t timeoutMs, std::int32_t& got) override {
    got = 0;
    TOp op(*this);
    if (!op) return kSerCancelled;
    auto* bytes = static_cast<std::uint8_t*>(p);
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
      const ssize_t r = ::read(fd_, bytes + got, static_cast<std::size_t>(n - got));
      if (r > 0) {
        got += static_cast<std::int32_t>(r);
        continue;
      }
      if (r == 0) return 0;  // hung up: nothing more will come
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return got > 0 ? 0 : errno;
      // The whole read is bounded by the time-out; after the first byte the read also ends
      // when the interval passes without another.
      int wait = RemainingMs(deadline);
      if (got > 0 && static_cast<int>(interval_) < wait) wait = static_cast<int>(interval_);
      if (wait <= 0) return 0;
      pollfd fds[2] = {{fd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
      const int rc = PollFor(fds, 2, wait);
      if (rc < 0) return got > 0 ? 0 : errno;
      if (rc == 0) return 0;
      if (fds[1].revents) return got > 0 ? 0 : kSerCancelled;
    }
    return 0;
  }

  int Write(const void* p, std::int32_t n, std::int32_t timeoutMs, std::int32_t& put) override {
    put = 0;
    TOp op(*this);
    if (!op) return kSerCancelled;
    if (n <= 0) return 0;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
      const ssize_t r = ::write(fd_, p, static_cast<std::size_t>(n));
      if (r >= 0) {
        put = static_cast<std::int32_t>(r);
        if (r > 0) return 0;
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN) {
        return errno;
      }
      // The driver's queue is full: wait until it takes bytes again.
      const int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
      if (wait == 0) return 0;
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
      const int rc = PollFor(fds, 2, wait);
      if (rc < 0) return errno;
      if (rc == 0) return 0;
      if (fds[1].revents) return kSerCancelled;
    }
  }

 private:
  // Counts the device calls in progress, so that Close releases the descriptor only after
  // they have left.
  class TOp {
   public:
    explicit TOp(TPosixDevice& d) : d_(d) {
      std::lock_guard lock(d_.mutex_);
      ok_ = !d_.closed_ && d_.fd_ >= 0;
      if (ok_) ++d_.active_;
    }
    ~TOp() {
      if (!ok_) return;
      std::lock_guard lock(d_.mutex_);
      if (--d_.active_ == 0) d_.idle_.notify_all();
    }
    explicit operator bool() const { return ok_; }

   private:
    TPosixDevice& d_;
    bool ok_ = false;
  };

  // Takes the terminal for ourselves and sets up the waits. Returns 0 or errno.
  int Prepare(int fd) {
    // Exclusive like a Windows port: TIOCEXCL turns away later opens (except root's), the
    // lock turns away other loaders, root or not. The claim belongs to the terminal, not to
    // a descriptor: root, let in past another holder's claim, must neither share the port
    // nor clear that claim on its way out, so the claim is only looked at until the port
    // is known to be ours.
    int claimed = 0;
    if (ioctl(fd, TIOCGEXCL, &claimed) == 0 && claimed != 0) return EBUSY;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
    if (ioctl(fd, TIOCEXCL) != 0) return errno;
    if (!isatty(fd)) {
      const int err = errno;
      ioctl(fd, TIOCNXCL);
      return err;
    }
    // The driver raised DTR and RTS as it opened the port (and ftdi_sio programmed the chip
    // from the terminal's last settings): once the port is surely ours, the line the caller
    // wants comes before anything else, modem lines first, to keep that pulse short. Best
    // effort: the caller applies the same settings again and reports what fails.
    if (openLine_) {
      SetModemLines(fd, *openLine_);
      posix::SetLine(fd, *openLine_);
    }
    cancelFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    int err = 0;
    if (cancelFd_ < 0 || wakeFd_ < 0 || epollFd_ < 0) err = errno;
    if (!err &&
        (Watch(cancelFd_, EPOLLIN) || Watch(wakeFd_, EPOLLIN) || Watch(fd, EPOLLIN | EPOLLET, fd)))
      err = errno;
    if (err) {
      for (int* h : {&cancelFd_, &wakeFd_, &epollFd_}) {
        if (*h >= 0) ::close(*h);
        *h = -1;
      }
      ioctl(fd, TIOCNXCL);
      return err;
    }
    haveCounts_ = false;
#ifdef TIOCGICOUNT
    haveCounts_ = ioctl(fd, TIOCGICOUNT, &counts_) == 0;
#endif
    return 0;
  }

  int Watch(int fd, std::uint32_t events, int tag = -2) {
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = tag == -2 ? fd : tag;
    return epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }

  // After a hang-up the descriptor reports itself ready for ever: watch only our own wake-ups
  // and look again now and then whether the line has come back.
  int WaitWhileHungUp() {
    pollfd fds[2] = {{cancelFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int rc = PollFor(fds, 2, 1000);
    if (rc < 0) return errno;
    if (fds[0].revents) return kSerCancelled;
    if (fds[1].revents) {
      std::uint64_t value;
      [[maybe_unused]] auto r = ::read(wakeFd_, &value, sizeof value);
      return kSerCancelled;
    }
    pollfd dev = {fd_, POLLIN, 0};
    if (PollFor(&dev, 1, 0) >= 0 && !(dev.revents & (POLLHUP | POLLERR))) {
      hungUp_ = false;
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLET;
      ev.data.fd = fd_;
      epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd_, &ev);
    }
    return 0;
  }

  int SetLine(const TSerDcb& dcb) {
    if (int err = posix::SetLine(fd_, dcb); err != 0) return err;
    return SetModemLines(fd_, dcb);
  }

  // DTR and RTS: on, off, or left to the driver's handshake. A terminal without modem
  // lines (a pseudo-terminal) answers ENOTTY, which is no error.
  static int SetModemLines(int fd, const TSerDcb& dcb) {
    using namespace SerDcbFlag;
    const std::uint32_t rts = (dcb.Flags & fRtsControlMask) >> fRtsControlShift;
    const std::uint32_t dtr = (dcb.Flags & fDtrControlMask) >> fDtrControlShift;
    int set = 0, clear = 0;
    (dtr == 1 || dtr == 2 ? set : clear) |= TIOCM_DTR;
    if (rts == 1)
      set |= TIOCM_RTS;
    else if (rts != 2)
      clear |= TIOCM_RTS;
    if (set && ioctl(fd, TIOCMBIS, &set) != 0 && errno != ENOTTY && errno != EINVAL) return errno;
    if (clear && ioctl(fd, TIOCMBIC, &clear) != 0 && errno != ENOTTY && errno != EINVAL)
      return errno;
    return 0;
  }

  // A USB adapter holds received bytes until its latency timer runs out (16 ms on an FT232
  // unless lowered), and every reply of the protocol would wait for it: ask the driver for
  // low latency (ftdi_sio then sets the timer to 1 ms). A driver that refuses (a
  // pseudo-terminal, some adapters) is no error.
  void RequestLowLatency(int fd) {
    latencyRaised_ = false;
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY)) return;
    info.flags |= ASYNC_LOW_LATENCY;
    latencyRaised_ = ioctl(fd, TIOCSSERIAL, &info) == 0;
  }

  // Gives the port back its earlier latency, changing nothing else in its flags.
  void RestoreLatency() {
    if (!latencyRaised_) return;
    latencyRaised_ = false;
    serial_struct info{};
    if (ioctl(fd_, TIOCGSERIAL, &info) != 0) return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    ioctl(fd_, TIOCSSERIAL, &info);
  }

  // Error flags since the last query, from the driver's counters where it keeps them.
  std::uint32_t LineErrors() {
    std::uint32_t errors = 0;
#ifdef TIOCGICOUNT
    if (!haveCounts_) return 0;
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
    if (now.frame != counts_.frame) errors |= SerCe::Frame;
    if (now.overrun != counts_.overrun) errors |= SerCe::Overrun;
    if (now.parity != counts_.parity) errors |= SerCe::RxParity;
    if (now.brk != counts_.brk) errors |= SerCe::Break;
    if (now.buf_overrun != counts_.buf_overrun) errors |= SerCe::RxOver;
    counts_ = now;
#endif
    return errors;
  }

  std::mutex mutex_;
  std::condition_variable idle_;
  int active_ = 0;
  bool closed_ = true;
  int fd_ = -1;
  int epollFd_ = -1;
  int wakeFd_ = -1;
  int cancelFd_ = -1;
  // Used by one thread at a time (the owner, or the event thread for hungUp_).
  std::uint32_t interval_ = 5;
  std::uint32_t mask_ = 0;
  bool hungUp_ = false;
  bool haveCounts_ = false;
  serial_icounter_struct counts_{};
  std::optional<TSerDcb> openLine_;
  bool latencyRaised_ = false;  // the port was not in low-latency mode before we opened it
};

}  // namespace

std::shared_ptr<TSerDevice> CreateSerDevice() {
  return std::make_shared<TPosixDevice>();
}

bool SerIsNotFound(int code) {
  return code == ENOENT;
}

bool SerIsDeviceGone(int code) {
  return code == EIO || code == ENXIO || code == ENODEV;
}

std::string SerAccessHint(int code, const std::string& devicePath) {
  if (code != EACCES && code != EPERM) return "";
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0) return "";
  // Only a group that may read and write the device gives access by joining it, and nobody
  // should be told to join the superuser's group.
  constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
  if (st.st_gid == 0 || (st.st_mode & kGroupReadWrite) != kGroupReadWrite) return "";
  // A group without an entry in the group database is still named by its number, which
  // usermod accepts as well.
  std::string name = std::to_string(st.st_gid);
  std::vector<char> buf(4096);
  struct group entry {};
  struct group* found = nullptr;
  while (getgrgid_r(st.st_gid, &entry, buf.data(), buf.size(), &found) == ERANGE &&
         buf.size() < (1u << 20))
    buf.resize(buf.size() * 2);
  if (found != nullptr && found->gr_name != nullptr && *found->gr_name != '\0')
    name = found->gr_name;
  return "Add your user to the group '" + name + "' (sudo usermod -aG " + name +
         " $USER) and log in again.";
}

void SerSetCurrentThreadPriority(int osPriority) {
#if defined(__linux__)
  // Linux threads take a nice value of their own; raising above normal needs privileges that
  // a user normally lacks, in which case the thread simply keeps its priority.
  int nice = 0;
  switch (osPriority) {
    case -15:
      nice = 19;
      break;
    case -2:
      nice = 10;
      break;
    case -1:
      nice = 5;
      break;
    case 0:
      nice = 0;
      break;
    case 1:
      nice = -5;
      break;
    case 2:
      nice = -10;
      break;
    default:
      nice = osPriority > 0 ? -20 : 19;
      break;
  }
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  if (getpriority(PRIO_PROCESS, tid) != nice) setpriority(PRIO_PROCESS, tid, nice);
#else
  (void)osPriority;
#endif
}

}  // namespace serial
