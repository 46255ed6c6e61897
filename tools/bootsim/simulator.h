// The simulator loop: one thread, one ppoll over the line's master side, standard input and
// the signal pipe. Timed output (delays, pacing) waits in a queue of absolute deadlines, so
// nothing ever spins.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "boot_device.h"
#include "bootsim_options.h"
#include "keyboard.h"
#include "line_clock.h"
#include "line_stats.h"
#include "pty.h"

namespace bootsim {

// Bytes due on the line at `due`.
struct TPending {
  Ns due;
  std::vector<std::uint8_t> bytes;
  bool reply;
};

class TSimulator {
 public:
  // Signals must be installed (InstallSignals) and `pty` open; both outlive the simulator.
  TSimulator(const TSimOptions& options, TPty& pty)
      : options_(options), pty_(pty), device_(options.device) {}

  // Runs until a signal or, with --once, the end of the transfer; 0 when the loader kept to
  // the protocol, 1 otherwise. Throws std::system_error when the line fails.
  int Run();
  // --out could not be written.
  bool WriteFailed() const { return writeFailed_; }

 private:
  void PollOnce(Ns waitNs);
  void OnSignals();
  void OnLine();
  void OnFinished(Ns now);
  void PowerOn(Ns now, bool manual);
  void Schedule(const std::vector<TOutput>& outputs, Ns now);
  void Flush(Ns now);
  void WriteAll(const std::vector<std::uint8_t>& data);
  void ReportViolations();
  void WriteImage();
  void WriteStats();

  const TSimOptions& options_;
  TPty& pty_;
  TBootDevice device_;
  TKeyboard keyboard_;
  TLineStats stats_;
  std::deque<TPending> pending_;
  Ns lineFreeAt_ = 0;
  std::optional<Ns> nextAnnounce_;
  std::optional<Ns> lingerUntil_;
  bool announceGraceUsed_ = false;
  bool quit_ = false;
  bool exitWhenDrained_ = false;
  bool writeFailed_ = false;
};

}  // namespace bootsim
