#include "simulator.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>

#include "posix_error.h"
#include "signals.h"

namespace bootsim {
namespace {

// Closer than this to a deadline, the loop sleeps until it instead of polling.
constexpr Ns kSleepWindowNs = 2'000'000;
constexpr Ns kWriteStallNs = 1'000'000'000;
// How long --once waits for the loader to close the port before it exits anyway.
constexpr Ns kLingerNs = 5'000'000'000;

Ns Ms(std::chrono::milliseconds ms) {
  return static_cast<Ns>(ms.count()) * 1'000'000LL;
}

}  // namespace

int TSimulator::Run() {
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
  stats_.CloseSession();
  WriteStats();
  return device_.Clean() ? 0 : 1;
}

void TSimulator::PollOnce(Ns waitNs) {
  pollfd fds[3] = {{SignalFd(), POLLIN, 0}, {pty_.master, POLLIN, 0}, {keyboard_.Fd(), POLLIN, 0}};
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

void TSimulator::OnSignals() {
  unsigned char sig[64];
  ssize_t n;
  while ((n = read(SignalFd(), sig, sizeof sig)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (sig[i] == SIGUSR1) {
        PowerOn(Now(), true);
      } else {
        quit_ = true;
      }
    }
  }
}

void TSimulator::OnLine() {
  std::uint8_t buf[4096];
  const ssize_t n = read(pty_.master, buf, sizeof buf);
  const Ns now = Now();
  if (n <= 0) return;
  if (stats_.LoaderSent(now)) nextAnnounce_.reset();  // the loader has answered
  for (const TPending& p : pending_) {
    if (p.reply && device_.Phase() != TPhase::phStopped) {
      device_.ReportViolation("the loader sent " + std::to_string(n) +
                              " byte(s) before the device's reply was on the line");
      break;
    }
  }
  const TPhase before = device_.Phase();
  Schedule(device_.Receive(std::span(buf, static_cast<std::size_t>(n))), now);
  ReportViolations();
  if (device_.Phase() == TPhase::phStopped && options_.afterFinish == TAfterFinish::afExit) {
    exitWhenDrained_ = true;
  }
  if (before != TPhase::phFinished && device_.Finished()) OnFinished(now);
}

void TSimulator::OnFinished(Ns now) {
  std::fprintf(stderr, "bootsim: finish command after %d block(s)\n", device_.Blocks());
  if (!options_.outFile.empty()) WriteImage();
  switch (options_.afterFinish) {
    case TAfterFinish::afExit:
      exitWhenDrained_ = true;
      break;
    case TAfterFinish::afKeepGoing:
      device_.PowerOff();
      if (options_.announceEvery) nextAnnounce_ = now + Ms(*options_.announceEvery);
      break;
    case TAfterFinish::afStay:
      break;
  }
}

void TSimulator::PowerOn(Ns now, bool manual) {
  if (manual) std::fprintf(stderr, "bootsim: power on\n");
  stats_.Restart();
  pty_.DropUnread();
  pending_.clear();
  lineFreeAt_ = now;
  Schedule(device_.PowerOn(), now);
  announceGraceUsed_ = false;
  nextAnnounce_.reset();
  if (options_.announceEvery) nextAnnounce_ = now + Ms(*options_.announceEvery);
}

void TSimulator::Schedule(const std::vector<TOutput>& outputs, Ns now) {
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
void TSimulator::Flush(Ns now) {
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
  stats_.Written(chunk.size(), reply, before, Now());
}

void TSimulator::WriteAll(const std::vector<std::uint8_t>& data) {
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

void TSimulator::ReportViolations() {
  for (const std::string& v : device_.TakeViolations()) {
    std::fprintf(stderr, "bootsim: protocol violation: %s\n", v.c_str());
  }
}

void TSimulator::WriteImage() {
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

void TSimulator::WriteStats() {
  if (options_.statsFile.empty()) return;
  std::ofstream f(options_.statsFile, std::ios::trunc);
  stats_.Write(f, options_.pace);
  if (!f) std::fprintf(stderr, "bootsim: cannot write %s\n", options_.statsFile.c_str());
}

}  // namespace bootsim
