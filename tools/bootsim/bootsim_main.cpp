// bootsim: a device's boot code and its one-wire line on a pseudo-terminal.
//
// The loader opens the terminal's slave side as its serial port; this program holds
// the master side. Everything the loader writes comes back first (the line's echo),
// then the simulated boot code answers. One thread, one ppoll loop over the master,
// standard input and a self-pipe for signals; timed output (delays, pacing) is kept
// in a queue of absolute deadlines, so nothing ever spins.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "boot_device.h"
#include "bootsim_options.h"
#include "loader_version.h"
#include "port_publisher.h"
#include "serial/port_names.h"

namespace bootsim {
namespace {

using Ns = std::int64_t;  // CLOCK_MONOTONIC nanoseconds

// 10400 bit/s with a start bit, 8 data bits and a stop bit.
constexpr Ns kByteNs = 10LL * 1'000'000'000LL / 10400;
// Closer than this to a deadline, the loop sleeps until it instead of polling.
constexpr Ns kSleepWindowNs = 2'000'000;
constexpr Ns kWriteStallNs = 1'000'000'000;
// How long --once waits for the loader to close the port before it exits anyway.
constexpr Ns kLingerNs = 5'000'000'000;

Ns Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Ns>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

timespec ToTimespec(Ns ns) {
  if (ns < 0) ns = 0;
  return timespec{static_cast<time_t>(ns / 1'000'000'000LL),
                  static_cast<long>(ns % 1'000'000'000LL)};
}

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// ---- signals: a self-pipe that the loop polls --------------------------------------

int gSignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signo) {
  const int saved = errno;
  const auto b = static_cast<unsigned char>(signo);
  [[maybe_unused]] ssize_t n = write(gSignalPipe[1], &b, 1);
  errno = saved;
}

void InstallSignals() {
  if (pipe(gSignalPipe) != 0) ThrowErrno("pipe");
  for (int fd : gSignalPipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaction(s, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Reading a terminal from the background must fail, not stop the simulator.
  signal(SIGTTIN, SIG_IGN);
}

// ---- the pseudo-terminal ------------------------------------------------------------

struct TPty {
  int master = -1;
  int slave = -1;  // kept open: the line stays up while loaders come and go
  std::string slavePath;

  void Open() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) ThrowErrno("posix_openpt");
    if (grantpt(master) != 0) ThrowErrno("grantpt");
    if (unlockpt(master) != 0) ThrowErrno("unlockpt");
    const char* name = ptsname(master);
    if (name == nullptr) ThrowErrno("ptsname");
    slavePath = name;
    slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) ThrowErrno("open " + slavePath);
    // Raw: no echo by the terminal itself, no line editing, no CR/LF translation.
    termios t{};
    if (tcgetattr(slave, &t) != 0) ThrowErrno("tcgetattr " + slavePath);
    cfmakeraw(&t);
    if (tcsetattr(slave, TCSANOW, &t) != 0) ThrowErrno("tcsetattr " + slavePath);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
  }
  // Bytes the loader has not read are lost, as on a real line nobody listens to.
  void DropUnread() const {
    if (slave >= 0) tcflush(slave, TCIFLUSH);
  }
  // Bytes waiting for the loader to read them.
  int Unread() const {
    int n = 0;
    if (slave < 0 || ioctl(slave, FIONREAD, &n) != 0) return 0;
    return n;
  }
  // From now on the master sees a hang-up when the loader closes the port.
  void ReleaseSlave() {
    if (slave >= 0) close(slave);
    slave = -1;
  }
  ~TPty() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
};

// ---- standard input as the power switch ----------------------------------------------

class TKeyboard {
 public:
  TKeyboard() {
    fd_ = STDIN_FILENO;
    if (isatty(fd_)) {
      // Only the foreground process may read the terminal.
      if (tcgetpgrp(fd_) != getpgrp()) {
        fd_ = -1;
        return;
      }
      if (tcgetattr(fd_, &saved_) == 0) {
        termios t = saved_;
        t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        restore_ = tcsetattr(fd_, TCSANOW, &t) == 0;
      }
    }
  }
  ~TKeyboard() {
    if (restore_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  int Fd() const { return fd_; }
  // True for a key press; false when standard input has ended (it is then ignored).
  bool Read() {
    char buf[256];
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) return true;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
    fd_ = -1;
    return false;
  }

 private:
  int fd_ = -1;
  termios saved_{};
  bool restore_ = false;
};

// ---- the simulator loop --------------------------------------------------------------

struct TPending {
  Ns due;
  std::vector<std::uint8_t> bytes;
  bool reply;
};

class TSimulator {
 public:
  TSimulator(const TSimOptions& options, TPty& pty)
      : options_(options), pty_(pty), device_(options.device) {}

  int Run() {
    const Ns start = Now();
    if (options_.announceAtStart || options_.announceEvery) PowerOn(start, false);

    while (!quit_) {
      Ns now = Now();
      Flush(now);
      if (quit_) break;
      if (exitWhenDrained_ && pending_.empty()) {
        // Let the loader read the last bytes and close its port before the line goes:
        // a terminal whose master closes takes unread input with it.
        if (!lingerUntil_) {
          lingerUntil_ = now + kLingerNs;
          pty_.ReleaseSlave();
        } else if (now >= *lingerUntil_) {
          break;
        }
      }

      if (nextAnnounce_ && *nextAnnounce_ <= now) {
        // Someone has read the last announcement but not answered yet: a loader that is
        // about to send its handshake must not get a second 0x55 in between. Give it one
        // more period before announcing again.
        if (pending_.empty() && pty_.Unread() == 0 && !announceGraceUsed_) {
          announceGraceUsed_ = true;
          nextAnnounce_ = now + Ms(*options_.announceEvery);
          continue;
        }
        PowerOn(now, false);
        continue;
      }

      Ns wait = -1;  // forever
      if (!pending_.empty()) wait = pending_.front().due - now;
      for (const std::optional<Ns>& at : {nextAnnounce_, lingerUntil_}) {
        if (at) wait = wait < 0 ? *at - now : std::min(wait, *at - now);
      }
      const bool sleepAfter = !pending_.empty() && pending_.front().due - now <= kSleepWindowNs;
      if (sleepAfter) wait = 0;

      PollOnce(wait);
      if (sleepAfter && !quit_ && !pending_.empty()) {
        // Close to the deadline: sleep until it exactly instead of polling there.
        const timespec due = ToTimespec(pending_.front().due);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
      }
    }
    CloseSession();
    WriteStats();
    return device_.Clean() ? 0 : 1;
  }

 private:
  void PollOnce(Ns waitNs) {
    pollfd fds[3] = {
        {gSignalPipe[0], POLLIN, 0}, {pty_.master, POLLIN, 0}, {keyboard_.Fd(), POLLIN, 0}};
    const nfds_t count = keyboard_.Fd() >= 0 ? 3 : 2;
    timespec ts{};
    const timespec* timeout = nullptr;
    if (waitNs >= 0) {
      ts = ToTimespec(waitNs);
      timeout = &ts;
    }
    const int ready = ppoll(fds, count, timeout, nullptr);
    if (ready < 0) {
      if (errno == EINTR) return;
      ThrowErrno("ppoll");
    }
    if (ready == 0) return;
    if (fds[0].revents & POLLIN) OnSignals();
    if (fds[1].revents & POLLIN) OnLine();
    // Hang-up only once our own slave descriptor is gone: the loader has closed the port.
    if ((fds[1].revents & POLLHUP) && lingerUntil_) quit_ = true;
    if (count == 3 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
      if (keyboard_.Read()) PowerOn(Now(), true);
    }
  }

  void OnSignals() {
    unsigned char sig[64];
    ssize_t n;
    while ((n = read(gSignalPipe[0], sig, sizeof sig)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (sig[i] == SIGUSR1) {
          PowerOn(Now(), true);
        } else {
          quit_ = true;
        }
      }
    }
  }

  void OnLine() {
    std::uint8_t buf[4096];
    const ssize_t n = read(pty_.master, buf, sizeof buf);
    const Ns now = Now();
    if (n <= 0) return;
    if (awaitingNext_) {
      turnarounds_.push_back(now - lastReplyAt_);
      awaitingNext_ = false;
    }
    if (!sessionActive_) {
      sessionActive_ = true;
      sessionStart_ = now;
      sessionBytes_ = 0;
      nextAnnounce_.reset();  // the loader has answered
    }
    for (const TPending& p : pending_) {
      if (p.reply && device_.Phase() != TPhase::Stopped) {
        device_.ReportViolation("the loader sent " + std::to_string(n) +
                                " byte(s) before the device's reply was on the line");
        break;
      }
    }
    const TPhase before = device_.Phase();
    Schedule(device_.Receive(std::span(buf, static_cast<std::size_t>(n))), now);
    ReportViolations();
    if (device_.Phase() == TPhase::Stopped && options_.afterFinish == TAfterFinish::Exit) {
      exitWhenDrained_ = true;
    }
    if (before != TPhase::Finished && device_.Finished()) OnFinished(now);
  }

  void OnFinished(Ns now) {
    std::fprintf(stderr, "bootsim: finish command after %d block(s)\n", device_.Blocks());
    if (!options_.outFile.empty()) WriteImage();
    switch (options_.afterFinish) {
      case TAfterFinish::Exit:
        exitWhenDrained_ = true;
        break;
      case TAfterFinish::KeepGoing:
        device_.PowerOff();
        if (options_.announceEvery) nextAnnounce_ = now + Ms(*options_.announceEvery);
        break;
      case TAfterFinish::Stay:
        break;
    }
  }

  static Ns Ms(std::chrono::milliseconds ms) { return static_cast<Ns>(ms.count()) * 1'000'000LL; }

  void PowerOn(Ns now, bool manual) {
    if (manual) std::fprintf(stderr, "bootsim: power on\n");
    CloseSession();
    pty_.DropUnread();
    pending_.clear();
    lineFreeAt_ = now;
    awaitingNext_ = false;
    Schedule(device_.PowerOn(), now);
    announceGraceUsed_ = false;
    nextAnnounce_.reset();
    if (options_.announceEvery) nextAnnounce_ = now + Ms(*options_.announceEvery);
  }

  void Schedule(const std::vector<TOutput>& outputs, Ns now) {
    for (const TOutput& out : outputs) {
      Ns at = std::max(now, lineFreeAt_) + static_cast<Ns>(out.gap.count());
      if (options_.pace) {
        // A byte reaches the other end when its stop bit is through.
        for (std::uint8_t b : out.bytes) {
          at += kByteNs;
          pending_.push_back(TPending{at, {b}, out.reply});
        }
      } else if (!out.bytes.empty()) {
        pending_.push_back(TPending{at, out.bytes, out.reply});
      }
      lineFreeAt_ = at;
    }
  }

  // Writes everything that is due, merged into one write.
  void Flush(Ns now) {
    if (pending_.empty() || pending_.front().due > now) return;
    std::vector<std::uint8_t> chunk;
    bool reply = false;
    while (!pending_.empty() && pending_.front().due <= now) {
      chunk.insert(chunk.end(), pending_.front().bytes.begin(), pending_.front().bytes.end());
      reply = reply || pending_.front().reply;
      pending_.pop_front();
    }
    const Ns before = Now();
    WriteAll(chunk);
    if (reply) {
      lastReplyAt_ = before;
      awaitingNext_ = true;
    }
    if (sessionActive_) {
      sessionBytes_ += static_cast<std::int64_t>(chunk.size());
      sessionEnd_ = Now();
    }
  }

  void WriteAll(const std::vector<std::uint8_t>& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = write(pty_.master, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        // Nobody reads the line: wait a while for room, then let the bytes go.
        pollfd p{pty_.master, POLLOUT, 0};
        const timespec ts = ToTimespec(kWriteStallNs);
        if (ppoll(&p, 1, &ts, nullptr) > 0) continue;
        std::fprintf(stderr, "bootsim: nobody reads the line, %zu byte(s) dropped\n",
                     data.size() - done);
        return;
      }
      ThrowErrno("write to the line");
    }
  }

  void ReportViolations() {
    for (const std::string& v : device_.TakeViolations()) {
      std::fprintf(stderr, "bootsim: protocol violation: %s\n", v.c_str());
    }
  }

  void CloseSession() {
    if (!sessionActive_) return;
    lineBytes_ += sessionBytes_;
    lineNs_ += sessionEnd_ - sessionStart_;
    sessionActive_ = false;
  }

  void WriteImage() {
    const std::string tmp = options_.outFile + ".part";
    {
      std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
      f.write(reinterpret_cast<const char*>(device_.Image().data()),
              static_cast<std::streamsize>(device_.Image().size()));
      f.close();
      if (!f) {
        std::fprintf(stderr, "bootsim: cannot write %s\n", tmp.c_str());
        writeFailed_ = true;
        return;
      }
    }
    if (std::rename(tmp.c_str(), options_.outFile.c_str()) != 0) {
      std::fprintf(stderr, "bootsim: cannot write %s: %s\n", options_.outFile.c_str(),
                   std::strerror(errno));
      writeFailed_ = true;
    }
  }

  void WriteStats() {
    if (options_.statsFile.empty()) return;
    std::ofstream f(options_.statsFile, std::ios::trunc);
    f << "byte_ns " << kByteNs << "\n";
    f << "paced " << (options_.pace ? 1 : 0) << "\n";
    f << "line_bytes " << lineBytes_ << "\n";
    f << "line_ns " << lineNs_ << "\n";
    f << "turnarounds " << turnarounds_.size() << "\n";
    for (Ns t : turnarounds_) f << "turnaround_ns " << t << "\n";
    if (!f) std::fprintf(stderr, "bootsim: cannot write %s\n", options_.statsFile.c_str());
  }

 public:
  bool WriteFailed() const { return writeFailed_; }

 private:
  const TSimOptions& options_;
  TPty& pty_;
  TBootDevice device_;
  TKeyboard keyboard_;
  std::deque<TPending> pending_;
  Ns lineFreeAt_ = 0;
  std::optional<Ns> nextAnnounce_;
  std::optional<Ns> lingerUntil_;
  bool announceGraceUsed_ = false;
  bool quit_ = false;
  bool exitWhenDrained_ = false;
  bool writeFailed_ = false;

  // Turnaround: a reply written -> the first byte of the loader's next packet.
  bool awaitingNext_ = false;
  Ns lastReplyAt_ = 0;
  std::vector<Ns> turnarounds_;
  // Line use: from the loader's first byte to the last byte written, per session.
  bool sessionActive_ = false;
  Ns sessionStart_ = 0;
  Ns sessionEnd_ = 0;
  std::int64_t sessionBytes_ = 0;
  std::int64_t lineBytes_ = 0;
  Ns lineNs_ = 0;
};

int Main(int argc, char** argv) {
  TSimOptions options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& e) {
    std::fprintf(stderr, "bootsim: %s\n%s", e.what(), kUsageText);
    return 64;
  }
  if (options.help) {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (options.version) {
    std::fputs("bootsim " LOADER_VERSION "\n", stdout);
    return 0;
  }

  try {
    InstallSignals();
    TPty pty;
    pty.Open();
    TPublisher publisher;
    std::string published;
    if (options.publish) {
      published =
          publisher.Publish(serial::PublishedPortsDir(), pty.slavePath, options.publishName);
    }

    std::printf("%s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    if (!published.empty()) {
      std::fprintf(stderr, "bootsim: port %s published as %s (in %s)\n", pty.slavePath.c_str(),
                   published.c_str(), publisher.Dir().c_str());
    }
    if (!options.announceAtStart && !options.announceEvery) {
      std::fprintf(stderr, "bootsim: press a key (or send SIGUSR1 to %d) to switch the device on\n",
                   static_cast<int>(getpid()));
    }

    TSimulator sim(options, pty);
    const int status = sim.Run();
    return sim.WriteFailed() && status == 0 ? 2 : status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bootsim: %s\n", e.what());
    return 2;
  }
}

}  // namespace
}  // namespace bootsim

int main(int argc, char** argv) {
  return bootsim::Main(argc, argv);
}
