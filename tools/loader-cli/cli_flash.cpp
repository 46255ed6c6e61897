// flash: the window's transfer, driven from a console loop. The serial component's
// threads hand their reports to this thread through a pump synchronizer, so the engine
// runs exactly as in the window: on one thread, one notification at a time.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "cli_commands.h"
#include "cli_platform.h"
#include "cli_progress.h"
#include "cli_trace.h"
#include "engine/transfer_engine.h"
#include "oh2b/oh2b.h"
#include "serial/ser_comm.h"
#include "serial/ser_pump.h"
#include "session/timer.h"
#include "session/transfer_session.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// How long the finish command may take to come back as echo before the port is closed
// anyway; on the line it takes 3 ms.
constexpr auto kFinishDrainLimit = std::chrono::seconds(2);
constexpr std::int64_t kFinishLength = 3;
// The pump's longest single wait; only bounds the wait when no time-out is set.
constexpr auto kLongWait = std::chrono::hours(1);

class TCliControls : public engine::IControls {
 public:
  TCliControls(std::ostream& out, std::ostream& err, TConsoleProgress& progress)
      : out_(out), err_(err), progress_(progress) {}
  void SetTotalParts(std::uint32_t total) override { progress_.SetTotalParts(total); }
  void SetPartsComplete(std::uint32_t parts) override {
    peakParts_ = std::max(peakParts_, parts);
    progress_.SetPartsComplete(parts);
  }
  void SetProgressVisible(bool visible) override {
    if (visible && !began_) began_ = Clock::now();
    if (!quiet_) progress_.SetVisible(visible);
  }
  void SetControlsEnabled(bool) override {}
  void SetPromptVisible(bool visible) override {
    promptPending_ = visible && holdPrompt_;
    if (!visible || holdPrompt_) return;
    out_ << kPowerOnPrompt << std::endl;
  }
  // Holds the prompt back until the file has been accepted and announced.
  void HoldPrompt() { holdPrompt_ = true; }
  void ReleasePrompt() {
    holdPrompt_ = false;
    if (std::exchange(promptPending_, false)) out_ << kPowerOnPrompt << std::endl;
  }
  void ShowMessage(const std::string& text) override {
    // The tool says in English what it waited for instead; the wrong reply's text stays,
    // scripts look for it.
    if (text == engine::kNoReplyText) return;
    progress_.ClearLine();
    err_ << label_ << text << std::endl;
    lastMessage_ = text;
  }
  void SetLabel(std::string label) { label_ = std::move(label); }
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  // The next board: its own blocks, time and message.
  void NextBoard() {
    peakParts_ = 0;
    began_.reset();
    lastMessage_.clear();
  }
  const std::string& LastMessage() const { return lastMessage_; }
  // Blocks sent and time taken, kept after a failed transfer has reset its progress.
  std::uint32_t PeakParts() const { return peakParts_; }
  double Seconds() const {
    return began_ ? std::chrono::duration<double>(Clock::now() - *began_).count() : 0.0;
  }

 private:
  std::string label_;
  bool quiet_ = false;
  bool holdPrompt_ = false;
  bool promptPending_ = false;
  std::string lastMessage_;
  std::uint32_t peakParts_ = 0;
  std::optional<Clock::time_point> began_;  // the transfer's first progress
  std::ostream& out_;
  std::ostream& err_;
  TConsoleProgress& progress_;
};

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// What the engine is waiting for, in words.
std::string AwaitedReply(const engine::TTransferEngine& e) {
  switch (e.TransferState()) {
    case engine::tsAwaitDevice:
      return "the device's announcement 0x55 (is the device switched on?)";
    case engine::tsAwaitHandshakeAck:
      return "the reply 0xAA to the handshake";
    case engine::tsAwaitPageAck:
      return "the reply 0xAA to the page command for address " + Hex(e.BlockAddress(), 4);
    case engine::tsAwaitBlockSum: {
      const int block = e.BlockCount() - 1;
      const auto address =
          static_cast<unsigned>(block * engine::TTransferEngine::kBlockSize) & 0xFFFFu;
      return "the sum " + Hex(e.ExpectedReply(), 2) + " of block " + std::to_string(block) +
             " (address " + Hex(address, 4) + ")";
    }
    case engine::tsIdle:
      break;
  }
  return "nothing";
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// An empty, zeroed or non-HEX file converts to an image of no bytes, and the loader
// would write a block of zeros into the device.
std::string EmptyImageText(const std::string& file) {
  return file + ": no data record; the image is empty (--allow-empty writes a block of zeros)";
}

// flash --dry-run: the conversion and its checks as the transfer would run them, and what
// the transfer would send. No port is opened: the port need not even exist.
int DryRun(const TCommand& command, std::ostream& out, std::ostream& err) {
  TScratchFolder scratch;
  std::string image;
  if (const int status = ConvertHexFile(command, err, image, scratch.NewSubfolder());
      status != kExitOk) {
    return status;
  }
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(image, ec);
  if (ec) {
    err << ErrorText("Cannot open file \"" + image + "\". " + ec.message()) << '\n';
    return kExitFailure;
  }
  if (size == 0 && !command.allowEmpty) {
    err << EmptyImageText(command.file) << '\n';
    return kExitFailure;
  }
  image = std::filesystem::path(image).filename().string();
  using engine::TTransferEngine;
  const std::uint64_t blocks = TTransferEngine::BlocksFor(size);
  out << "dry run: no port opened, nothing sent\n"
      << "port" << (command.ports.size() == 1 ? ": " : "s:") << "         " << Joined(command.ports)
      << '\n'
      << "image:         " << image << ", " << size << " byte" << (size == 1 ? "" : "s") << '\n'
      << "data blocks:   " << blocks << " of " << TTransferEngine::kBlockSize
      << " bytes, the last one short or empty\n"
      << "page commands: " << TTransferEngine::PageCommandsFor(size) << '\n';
  // The device's addresses are 16 bits wide.
  if (blocks * TTransferEngine::kBlockSize > 0x10000) {
    out << "note: block addresses pass 0xFFFF and wrap to 0x0000\n";
  }
  return kExitOk;
}

// One port's calls through the shared pump: an exception from one of them ends this
// port's transfer only, never the loop that serves the others.
class TPortSynchronizer : public serial::ISerSynchronizer {
 public:
  TPortSynchronizer(serial::ISerSynchronizer& shared,
                    std::function<void(const std::exception&)> onError)
      : shared_(shared), onError_(std::move(onError)) {}
  void Synchronize(const std::function<void()>& call) override {
    shared_.Synchronize([this, &call] {
      try {
        call();
      } catch (const std::exception& e) {
        onError_(e);
      }
    });
  }

 private:
  serial::ISerSynchronizer& shared_;
  std::function<void(const std::exception&)> onError_;
};

// One port's transfer, moved on a step at a time by the loop that pumps every port.
class TPortFlash {
 public:
  TPortFlash(const TCommand& command, const std::string& port, serial::ISerSynchronizer& sync,
             std::ostream& human, std::ostream* results, std::ostream& err, bool errIsTerminal,
             TProgressBoard* board, std::size_t line, const std::atomic<bool>& interruptRequested,
             TByteTrace* trace)
      : command_(command),
        label_(command.ports.size() > 1 ? "[" + port + "] " : ""),
        err_(err),
        json_(results),
        sync_(sync, [this](const std::exception& e) { LineError(e.what()); }),
        progress_(err, errIsTerminal, label_, board, line),
        controls_(human, err, progress_),
        transfer_(comm_, controls_, replyLimit_, [this](const std::exception& e) {
          if (const auto* lost = dynamic_cast<const session::EPortLost*>(&e)) {
            if (!portLost_) portLost_ = *lost;
          } else {
            LineError(e.what());
          }
        }) {
    result_.port = port;
    result_.file = command.file;
    controls_.SetLabel(label_);
    serial::ApplyLoaderSettings(comm_);
    comm_.SetDeviceName(port);
    comm_.SetSynchronizer(&sync_);
    transfer_.Engine().SetConversionCancel(
        [&interruptRequested] { return interruptRequested.load(); });
    transfer_.Engine().SetRecordChecks(command.checkRecords);
    controls_.SetQuiet(command.verbosity == TCommand::TVerbosity::Quiet);
    const bool verbose = command.verbosity == TCommand::TVerbosity::Verbose;
    if (trace != nullptr || verbose) {
      transfer_.SetByteObserver([this, trace, verbose, port](session::TByteDirection direction,
                                                             const std::uint8_t* bytes,
                                                             std::size_t count) {
        if (trace != nullptr) trace->Record(port, direction, bytes, count);
        if (verbose) {
          progress_.ClearLine();
          const auto at =
              std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - created_);
          err_ << TraceLine(at, port, direction, bytes, count) << '\n';
        }
      });
    }
  }
  ~TPortFlash() { comm_.Close(); }
  void Close() { comm_.Close(); }
  TPortFlash(const TPortFlash&) = delete;
  TPortFlash& operator=(const TPortFlash&) = delete;

  // Converts the file and opens the port. A conversion error is the same on every port:
  // it is passed on; a port that cannot be opened ends this port only.
  // hexPath: absolute, as the conversion runs in `folder`, where its image stays.
  void Start(const std::string& hexPath, const std::filesystem::path& folder) {
    hexPath_ = hexPath;
    folder_ = folder;
    controls_.HoldPrompt();
    try {
      TCurrentDirectory there(folder);
      transfer_.Start(hexPath);
    } catch (const std::exception& e) {
      if (!transfer_.Engine().HasImage()) throw;
      // Reported by the first Step, after the opening line.
      LineError(e.what());
      return;
    }
    writesSeen_ = transfer_.Writes();
    deadline_ = Clock::now() + command_.timeout;
  }

  bool Done() const { return done_; }
  void ReleasePrompt() { controls_.ReleasePrompt(); }
  const engine::TTransferEngine& Engine() const { return transfer_.Engine(); }
  // One per device flashed (with --repeat, board after board).
  const std::vector<TFlashResult>& Results() const { return results_; }

  // Looks at what the last pump brought and ends the transfer when it is over.
  void Step(Clock::time_point now) {
    if (done_) return;
    const engine::TTransferEngine& engine = transfer_.Engine();
    if (portLost_) {
      return End(
          kExitFailure, "failed",
          "loader-cli: lost port " + portLost_->Port() + ": " + ErrorText(portLost_->Detail()));
    }
    if (lineError_) return End(kExitFailure, "failed", ErrorText(*lineError_));
    if (engine.Outcome() == engine::TOutcome::ErrorStop) {
      // The device's own text has been shown already.
      result_.error = controls_.LastMessage();
      return End(kExitReplyError, "reply error", "");
    }
    if (engine.Outcome() == engine::TOutcome::NoReply) {
      return End(
          kExitTimeout, "no reply",
          "loader-cli: no reply on " + result_.port + " within " +
              std::to_string(
                  std::chrono::duration_cast<std::chrono::seconds>(session::kReplyLimit).count()) +
              " s; waiting for " + awaited_);
    }
    if (engine.Outcome() == engine::TOutcome::Finished) {
      // The finish command is queued; its echo proves it has left before the port closes.
      if (!drainUntil_) drainUntil_ = now + kFinishDrainLimit;
      if (transfer_.ReadSinceWrite() >= kFinishLength || now >= *drainUntil_) {
        char summary[128];
        std::snprintf(summary, sizeof summary, "loader-cli: done, %u block%s in %.1f s",
                      static_cast<unsigned>(progress_.Blocks()), progress_.Blocks() == 1 ? "" : "s",
                      controls_.Seconds());
        return End(kExitOk, "done", summary);
      }
      return;
    }
    if (transfer_.Writes() != writesSeen_) {
      writesSeen_ = transfer_.Writes();
      deadline_ = now + command_.timeout;
    }
    if (replyLimit_.Deadline() && now >= *replyLimit_.Deadline()) {
      awaited_ = AwaitedReply(engine);
      replyLimit_.FireIfDue(now);
      return Step(now);
    }
    if (Timed() && now >= deadline_) {
      return End(kExitTimeout, "no reply",
                 "loader-cli: no reply on " + result_.port + " within " +
                     std::to_string(command_.timeout.count()) + " s; waiting for " +
                     AwaitedReply(engine));
    }
  }

  // When this port next needs a Step without anything arriving from its line.
  Clock::time_point WakeAt(Clock::time_point now) const {
    auto until = now + kLongWait;
    if (drainUntil_) return std::min(until, *drainUntil_);
    if (Timed()) until = std::min(until, deadline_);
    if (replyLimit_.Deadline()) until = std::min(until, *replyLimit_.Deadline());
    return until;
  }

  void Interrupt() {
    if (done_) return;
    // With --repeat, Ctrl-C between boards is the way to stop: no board is cut short.
    if (command_.repeat && !results_.empty() &&
        transfer_.Engine().TransferState() == engine::tsAwaitDevice) {
      done_ = true;
      progress_.ClearLine();
      err_ << label_ << "loader-cli: port " << result_.port << " closed after " << boardsDone_
           << " board" << (boardsDone_ == 1 ? "" : "s") << " done" << std::endl;
      return;
    }
    End(kExitInterrupted, "interrupted",
        "loader-cli: interrupted; port " + result_.port + " closed");
  }

 private:
  void LineError(const std::string& text) {
    if (!lineError_) lineError_ = text;
  }

  // --timeout bounds each expected byte; with --repeat not the wait for the next board,
  // which is the operator's.
  bool Timed() const {
    return command_.timeout.count() > 0 &&
           !(command_.repeat && transfer_.Engine().TransferState() == engine::tsAwaitDevice);
  }

  // --repeat: the same image for the next device on this port.
  void NextBoard() {
    TFlashResult next;
    next.port = result_.port;
    next.file = command_.file;
    result_ = next;
    controls_.NextBoard();
    drainUntil_.reset();
    awaited_.clear();
    try {
      TCurrentDirectory there(folder_);
      transfer_.Start(hexPath_);
    } catch (const std::exception& e) {
      return End(kExitFailure, "failed", ErrorText(e.what()));
    }
    writesSeen_ = transfer_.Writes();
    deadline_ = Clock::now() + command_.timeout;
  }

  // Records how this board ended; with --repeat the next one is awaited at once. The port
  // stays open until every port is over (see TFlashRun::Close).
  void End(int status, const char* outcome, const std::string& message) {
    // Another board may follow unless the line or the port itself failed.
    const bool again = command_.repeat && status != kExitFailure && status != kExitInterrupted;
    done_ = !again;
    if (status == kExitOk) ++boardsDone_;
    progress_.ClearLine();
    if (!message.empty()) {
      err_ << label_ << message;
      if (command_.repeat && status == kExitOk) err_ << "; boards done: " << boardsDone_;
      err_ << std::endl;
    }
    result_.status = status;
    result_.outcome = outcome;
    result_.blocks = controls_.PeakParts();
    result_.seconds = controls_.Seconds();
    result_.imageBytes = transfer_.Engine().ImageSize();
    if (status != kExitOk && result_.error.empty()) result_.error = message;
    results_.push_back(result_);
    if (json_ != nullptr) *json_ << JsonResult(result_) << std::endl;
    if (again) return NextBoard();
  }

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
  std::string hexPath_;
  std::filesystem::path folder_;
  Clock::time_point created_ = Clock::now();
};

void PrintSummary(std::ostream& err, const std::vector<std::unique_ptr<TPortFlash>>& ports) {
  std::size_t width = 4;
  for (const auto& p : ports)
    width = std::max(width, p->Results().empty() ? 0 : p->Results()[0].port.size());
  char line[160];
  std::snprintf(line, sizeof line, "%-*s  %-11s  %6s  %7s  %s", static_cast<int>(width), "port",
                "outcome", "blocks", "seconds", "error");
  err << line << '\n';
  for (const auto& p : ports) {
    for (const TFlashResult& r : p->Results()) {
      std::snprintf(line, sizeof line, "%-*s  %-11s  %6u  %7.1f  ", static_cast<int>(width),
                    r.port.c_str(), r.outcome.c_str(), static_cast<unsigned>(r.blocks), r.seconds);
      err << line << r.error << '\n';
    }
  }
  err.flush();
}

// One flash run over every port of the command, in named steps. Each step that can fail
// returns the run's status (kExitOk to go on); whatever the status, the run ends through
// Finish, or through the destructor should an exception leave early.
class TFlashRun {
 public:
  TFlashRun(const TCommand& command, std::ostream& out, std::ostream& err, bool errIsTerminal)
      : command_(command), out_(out), err_(err), errIsTerminal_(errIsTerminal), interrupts_([this] {
          OnInterrupt();
        }) {
    if (command.ports.size() > 1 && errIsTerminal) board_.emplace(err, command.ports.size());
  }
  ~TFlashRun() { Close(); }
  TFlashRun(const TFlashRun&) = delete;
  TFlashRun& operator=(const TFlashRun&) = delete;

  // A failure before any transfer began is every port's; returns `status`.
  int FailAll(int status, const char* outcome, const std::string& text) {
    if (board_) board_->Clear();
    err_ << text << std::endl;
    if (!command_.json) return status;
    for (const std::string& port : command_.ports) {
      TFlashResult r;
      r.port = port;
      r.file = command_.file;
      r.outcome = outcome;
      r.error = text;
      r.status = status;
      out_ << JsonResult(r) << '\n';
    }
    out_.flush();
    return status;
  }

  // The trace file and the scratch folder, which the ports' transfers need.
  int Open() {
    if (!command_.trace.empty()) {
      try {
        trace_.emplace(command_.trace);
      } catch (const ETraceFileError& e) {
        return FailAll(kExitFailure, "failed", e.what());
      }
    }
    try {
      scratch_.emplace();
      hexPath_ = std::filesystem::absolute(command_.file).string();
    } catch (const std::exception& e) {
      return FailAll(kExitFailure, "failed", ErrorText(e.what()));
    }
    return kExitOk;
  }

  // One transfer per port: each converts the file and opens its port.
  int StartPorts() {
    // With --json standard output carries the results alone.
    std::ostream& human = command_.json ? err_ : out_;
    for (std::size_t i = 0; i < command_.ports.size(); ++i) {
      ports_.push_back(std::make_unique<TPortFlash>(
          command_, command_.ports[i], sync_, human, command_.json ? &out_ : nullptr, err_,
          errIsTerminal_, board_ ? &*board_ : nullptr, i, interruptRequested_,
          trace_ ? &*trace_ : nullptr));
      try {
        ports_.back()->Start(hexPath_, scratch_->NewSubfolder());
      } catch (const oh2b::EConvertCancelled&) {
        return FailAll(kExitInterrupted, "interrupted", "loader-cli: interrupted; nothing sent");
      } catch (const std::exception& e) {
        return FailAll(kExitFailure, "failed", ConversionErrorText(command_.file, e));
      }
    }
    if (ports_.front()->Engine().ImageSize() == 0 && !command_.allowEmpty) {
      return FailAll(kExitFailure, "failed", EmptyImageText(command_.file));
    }
    return kExitOk;
  }

  // The opening line, then each port's prompt.
  void Announce() {
    if (command_.verbosity != TCommand::TVerbosity::Quiet) {
      const std::uint64_t size = ports_.front()->Engine().ImageSize();
      const std::uint64_t blocks = engine::TTransferEngine::BlocksFor(size);
      err_ << "loader-cli: flashing " << command_.file << " (" << size << " byte"
           << (size == 1 ? "" : "s") << ", " << blocks << " block" << (blocks == 1 ? "" : "s")
           << ") on " << Joined(command_.ports) << std::endl;
    }
    for (auto& p : ports_) p->ReleasePrompt();
  }

  // One pass of the loop that serves every port: each pass serves the hand-offs that have
  // come in, in order, then lets each transfer look at its state. False once all are over.
  bool Step() {
    const auto now = Clock::now();
    auto until = now + kLongWait;
    bool running = false;
    for (auto& p : ports_) {
      if (interrupted_) p->Interrupt();
      p->Step(now);
      if (p->Done()) continue;
      running = true;
      until = std::min(until, p->WakeAt(now));
    }
    if (!running) return false;
    try {
      sync_.Pump(std::chrono::duration_cast<std::chrono::milliseconds>(until - now) +
                 std::chrono::milliseconds(1));
    } catch (const std::exception& e) {
      // Only the interrupt's own call runs unwrapped, and it does not throw.
      err_ << ErrorText(e.what()) << std::endl;
    }
    return true;
  }

  // The table of every board (when there is more than one) and the worst status.
  int Summary() {
    int status = kExitOk;
    for (const auto& p : ports_) {
      for (const TFlashResult& r : p->Results()) status = std::max(status, r.status);
    }
    if (command_.ports.size() > 1 || command_.repeat) PrintSummary(err_, ports_);
    return status;
  }

  // The one way a run ends, whatever its status: the ports and the threads go, then the
  // trace is written out. Returns the run's exit status.
  int Finish(int status) {
    Close();
    if (trace_) {
      try {
        trace_->Finish();
      } catch (const ETraceFileError& e) {
        err_ << "loader-cli: " << e.what() << std::endl;
        status = std::max(status, kExitFailure);
      }
    }
    return status;
  }

 private:
  // Closes the ports before the synchronizer lets go of the interrupt watch. A port's close
  // waits 300 ms for the line to settle, and would hold up the other transfers for that
  // long: the ports are closed here, once all are over, side by side (nothing else uses
  // them by now, and each is its own component). Does nothing the second time.
  void Close() {
    {
      std::vector<std::jthread> closers;
      for (auto& p : ports_) closers.emplace_back([&p] { p->Close(); });
    }
    ports_.clear();
    sync_.Shutdown();
    interrupts_.Stop();
  }

  // On the watch's thread.
  void OnInterrupt() {
    interruptRequested_ = true;
    sync_.Synchronize([this] { interrupted_ = true; });
  }

  const TCommand& command_;
  std::ostream& out_;
  std::ostream& err_;
  bool errIsTerminal_;
  // Before everything that may hand calls to it, so destroyed after all of them.
  serial::TSerPumpSynchronizer sync_;
  bool interrupted_ = false;
  // Seen at once by a conversion in progress (this thread is busy then, not pumping).
  std::atomic<bool> interruptRequested_{false};
  // Before the serial threads exist, so that they inherit the blocked signals.
  TInterruptWatch interrupts_;
  std::optional<TProgressBoard> board_;
  std::optional<TByteTrace> trace_;
  // Before the ports, so that it outlives their open images.
  std::optional<TScratchFolder> scratch_;
  std::string hexPath_;
  std::vector<std::unique_ptr<TPortFlash>> ports_;
};

}  // namespace

int RunFlash(const TCommand& command, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  std::error_code ec;
  const bool missing = !std::filesystem::exists(command.file, ec);
  if (command.dryRun || (missing && !command.json)) {
    if (!missing) return DryRun(command, out, err);
    err << MissingFileText(command.file) << '\n';
    return kExitFailure;
  }
  TFlashRun run(command, out, err, errIsTerminal);
  int status =
      missing ? run.FailAll(kExitFailure, "failed", MissingFileText(command.file)) : run.Open();
  if (status == kExitOk) status = run.StartPorts();
  if (status == kExitOk) {
    run.Announce();
    while (run.Step()) {
    }
    status = run.Summary();
  }
  return run.Finish(status);
}

}  // namespace cli
