// flash: one port's transfer, the engine's console controls and the port's share of the
// pump, moved on a step at a time by the loop that serves every port.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli_commands.h"
#include "cli_messages.h"
#include "cli_progress.h"
#include "cli_trace.h"
#include "engine/transfer_engine.h"
#include "serial/ser_comm.h"
#include "serial/ser_sync.h"
#include "session/timer.h"
#include "session/transfer_session.h"

namespace cli::detail {

using Clock = std::chrono::steady_clock;

// The pump's longest single wait; only bounds the wait when no time-out is set.
inline constexpr auto kLongWait = std::chrono::hours(1);

class TCliControls : public engine::IControls {
 public:
  TCliControls(std::ostream& err, TConsoleProgress& progress) : err_(err), progress_(progress) {}
  void SetTotalParts(std::uint32_t total) override { progress_.SetTotalParts(total); }
  void SetPartsComplete(std::uint32_t parts) override;
  void SetProgressVisible(bool visible) override;
  void SetControlsEnabled(bool) override {}
  void SetPromptVisible(bool visible) override;
  // Holds the prompt back until the file has been accepted and announced.
  void HoldPrompt() { holdPrompt_ = true; }
  void ReleasePrompt();
  void ShowMessage(const std::string& text) override;
  // The clock of the transfer's time starts when the device has announced itself.
  void TransferBegan() override;
  // Each pass of the loop reads how the transfer ended from the engine.
  void TransferEnded(engine::TOutcome, const engine::TStopDetail&) override {}
  void SetLabel(std::string label, std::string port) {
    label_ = std::move(label);
    port_ = std::move(port);
  }
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  // The next board: its own blocks, time and message.
  void NextBoard();
  const std::string& LastMessage() const { return lastMessage_; }
  // Blocks sent and time taken, kept after a failed transfer has reset its progress.
  std::uint32_t PeakParts() const { return peakParts_; }
  double Seconds() const;

 private:
  void ShowPrompt();

  std::string label_;
  std::string port_;
  bool quiet_ = false;
  bool progressShown_ = false;
  bool holdPrompt_ = false;
  bool promptPending_ = false;
  std::string lastMessage_;
  std::uint32_t peakParts_ = 0;
  std::optional<Clock::time_point> began_;  // the device's announcement
  std::ostream& err_;
  TConsoleProgress& progress_;
};

// One port's calls through the shared pump: an exception from one of them ends this
// port's transfer only, never the loop that serves the others.
class TPortSynchronizer : public serial::ISerSynchronizer {
 public:
  TPortSynchronizer(serial::ISerSynchronizer& shared,
                    std::function<void(const std::exception&)> onError)
      : shared_(shared), onError_(std::move(onError)) {}
  void Synchronize(const std::function<void()>& call) override;

 private:
  serial::ISerSynchronizer& shared_;
  std::function<void(const std::exception&)> onError_;
};

// One port's transfer, moved on a step at a time by the loop that pumps every port.
class TPortFlash {
 public:
  TPortFlash(const TCommand& command, const std::string& port, serial::ISerSynchronizer& sync,
             std::ostream* results, std::ostream& err, bool errIsTerminal, TProgressBoard* board,
             std::size_t line, const std::atomic<bool>& interruptRequested, TByteTrace* trace);
  ~TPortFlash() { comm_.Close(); }
  void Close() { comm_.Close(); }
  TPortFlash(const TPortFlash&) = delete;
  TPortFlash& operator=(const TPortFlash&) = delete;

  // Starts the transfer of `image`, converted once for every port, and opens the port. An
  // image error (the image changed since it was converted) is the same on every port: it is
  // passed on; a port that cannot be opened ends this port only.
  void Start(const oh2b::TConvertedImage& image);

  bool Done() const { return done_; }
  void ReleasePrompt() { controls_.ReleasePrompt(); }
  const engine::TTransferEngine& Engine() const { return transfer_.Engine(); }
  // One per device flashed (with --repeat, board after board).
  const std::vector<TFlashResult>& Results() const { return results_; }

  // Looks at what the last pump brought and ends the transfer when it is over.
  void Step(Clock::time_point now);

  // When this port next needs a Step without anything arriving from its line.
  Clock::time_point WakeAt(Clock::time_point now) const;

  void Interrupt();

 private:
  void LineError(const std::exception& error) {
    if (!lineError_) lineError_ = PortErrorText(result_.port, error);
  }

  // --timeout bounds each expected byte; with --repeat not the wait for the next board,
  // which is the operator's.
  bool Timed() const;

  // Starts the transfer of the converted image; the --timeout clock begins.
  void Begin();

  // --repeat: the same image for the next device on this port.
  void NextBoard();

  // Records how this board ended; with --repeat the next one is awaited at once. The port
  // stays open until every port is over (see TFlashRun::Close).
  void End(int status, const char* outcome, const std::string& message);

  const TCommand& command_;
  std::string label_;
  std::ostream& err_;
  std::ostream* json_;  // --json: where each result goes as it comes
  TPortSynchronizer sync_;
  serial::TSerComm comm_;
  TConsoleProgress progress_;
  TCliControls controls_;
  session::TDeadlineTimer replyLimit_;
  session::TTransferSession transfer_;
  std::optional<std::string> lineError_;
  std::optional<session::EPortLost> portLost_;
  std::int64_t writesSeen_ = 0;
  Clock::time_point deadline_{};
  std::optional<Clock::time_point> drainUntil_;
  std::string awaited_;  // what the device left unanswered when the reply limit passed
  bool done_ = false;
  TFlashResult result_;  // the board on the line now
  std::vector<TFlashResult> results_;
  int boardsDone_ = 0;
  oh2b::TConvertedImage image_;
  Clock::time_point created_ = Clock::now();
};

}  // namespace cli::detail
