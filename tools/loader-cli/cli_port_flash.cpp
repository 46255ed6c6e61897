// flash: one port's transfer. The engine's controls on the console, the port's calls
// through the shared pump, and the checks each pass of the loop makes on the transfer.
#include "cli_port_flash.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "cli_platform.h"
#include "platform/hex_text.h"

namespace cli::detail {

namespace {

// How long the finish command may take to come back as echo before the port is closed
// anyway; on the line it takes 3 ms.
constexpr auto kFinishDrainLimit = std::chrono::seconds(2);
constexpr std::int64_t kFinishLength = 3;

// What the engine is waiting for, in words.
std::string AwaitedReply(const engine::TTransferEngine& e) {
  switch (e.TransferState()) {
    case engine::tsAwaitDevice:
      return "the device's announcement 0x55 (is the device switched on?)";
    case engine::tsAwaitHandshakeAck:
      return "the reply 0xAA to the handshake";
    case engine::tsAwaitPageAck:
      return "the reply 0xAA to the page command for address " +
             platform::HexText(e.BlockAddress(), 4);
    case engine::tsAwaitBlockSum: {
      const int block = e.BlockCount() - 1;
      const auto address =
          static_cast<unsigned>(block * engine::TTransferEngine::kBlockSize) & 0xFFFFu;
      return "the sum " + platform::HexText(e.ExpectedReply(), 2) + " of block " +
             std::to_string(block) + " (address " + platform::HexText(address, 4) + ")";
    }
    case engine::tsIdle:
      break;
  }
  return "nothing";
}

}  // namespace

void TCliControls::SetPartsComplete(std::uint32_t parts) {
  peakParts_ = std::max(peakParts_, parts);
  // A stop resets the count before it hides the progress; the line keeps where it stopped.
  if (progressShown_ && parts < progress_.Blocks()) return;
  progress_.SetPartsComplete(parts);
}

void TCliControls::TransferBegan() {
  began_ = Clock::now();
}

void TCliControls::SetProgressVisible(bool visible) {
  progressShown_ = visible;
  if (!quiet_) progress_.SetVisible(visible);
}

void TCliControls::SetPromptVisible(bool visible) {
  promptPending_ = visible && holdPrompt_;
  if (!visible || holdPrompt_) return;
  ShowPrompt();
}

void TCliControls::ReleasePrompt() {
  holdPrompt_ = false;
  if (std::exchange(promptPending_, false)) ShowPrompt();
}

void TCliControls::ShowPrompt() {
  // A message to the operator, as the errors are: standard output stays the results'.
  if (quiet_) return;
  progress_.ClearLine();
  err_ << kPowerOnPrompt << std::endl;
  progress_.Redraw();
}

void TCliControls::ShowMessage(const std::string& text) {
  // The stop's own line says it with the detail: what was awaited, what came instead.
  lastMessage_ = text;
  if (text == engine::kNoReplyText || text == engine::kReplyErrorText) return;
  progress_.ClearLine();
  err_ << kProgramPrefix << port_ << ": " << text << std::endl;
}

void TCliControls::NextBoard() {
  peakParts_ = 0;
  began_.reset();
  lastMessage_.clear();
}

double TCliControls::Seconds() const {
  return began_ ? std::chrono::duration<double>(Clock::now() - *began_).count() : 0.0;
}

void TPortSynchronizer::Synchronize(const std::function<void()>& call) {
  shared_.Synchronize([this, &call] {
    try {
      call();
    } catch (const std::exception& e) {
      onError_(e);
    }
  });
}

TPortFlash::TPortFlash(const TCommand& command, const std::string& port,
                       serial::ISerSynchronizer& sync, std::ostream* results, std::ostream& err,
                       bool errIsTerminal, TProgressBoard* board, std::size_t line,
                       const std::atomic<bool>& interruptRequested, TByteTrace* trace)
    : command_(command),
      label_(command.ports.size() > 1 ? "[" + port + "] " : ""),
      err_(err),
      json_(results),
      sync_(sync, [this](const std::exception& e) { LineError(e); }),
      progress_(err, errIsTerminal, label_, board, line),
      controls_(err, progress_),
      transfer_(comm_, controls_, replyLimit_, [this](const std::exception& e) {
        if (const auto* lost = dynamic_cast<const session::EPortLost*>(&e)) {
          if (!portLost_) portLost_ = *lost;
        } else {
          LineError(e);
        }
      }) {
  result_.port = port;
  result_.file = command.file;
  controls_.SetLabel(label_, port);
  serial::ApplyLoaderSettings(comm_);
  comm_.SetDeviceName(port);
  comm_.SetSynchronizer(&sync_);
  transfer_.Engine().SetConversionCancel(
      [&interruptRequested] { return interruptRequested.load(); });
  transfer_.Engine().SetRecordChecks(command.checkRecords);
  controls_.SetQuiet(command.verbosity == TCommand::TVerbosity::vbQuiet);
  const bool verbose = command.verbosity == TCommand::TVerbosity::vbVerbose;
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

void TPortFlash::Start(const oh2b::TConvertedImage& image) {
  image_ = image;
  controls_.HoldPrompt();
  try {
    Begin();
  } catch (const std::exception& e) {
    if (!transfer_.Engine().HasImage()) throw;
    // Reported by the first Step, after the opening line.
    LineError(e);
  }
}

void TPortFlash::Begin() {
  transfer_.StartConverted(image_);
  writesSeen_ = transfer_.Writes();
  deadline_ = Clock::now() + command_.timeout;
}

void TPortFlash::Step(Clock::time_point now) {
  if (done_) return;
  const engine::TTransferEngine& engine = transfer_.Engine();
  if (portLost_) {
    return End(kExitFailure, "failed",
               portLost_->Port() + ": port lost: " + ErrorText(portLost_->Detail()));
  }
  if (lineError_) return End(kExitFailure, "failed", *lineError_);
  if (engine.Outcome() == engine::TOutcome::ocErrorStop) {
    return End(kExitReplyError, "reply error",
               result_.port + ": " + ReplyErrorText(engine.LastStop()));
  }
  if (engine.Outcome() == engine::TOutcome::ocNoReply) {
    return End(
        kExitTimeout, "no reply",
        "no reply on " + result_.port + " within " +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(session::kReplyLimit).count()) +
            " s; waiting for " + awaited_);
  }
  if (engine.Outcome() == engine::TOutcome::ocFinished) {
    // The finish command is queued; its echo proves it has left before the port closes.
    if (!drainUntil_) drainUntil_ = now + kFinishDrainLimit;
    if (transfer_.ReadSinceWrite() >= kFinishLength || now >= *drainUntil_) {
      char summary[128];
      std::snprintf(summary, sizeof summary, "done, %u block%s in %.1f s",
                    static_cast<unsigned>(progress_.Blocks()), progress_.Blocks() == 1 ? "" : "s",
                    controls_.Seconds());
      return End(kExitOk, "done", summary + (", CRC-32 " + CrcText(image_.crc32)));
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
               "no reply on " + result_.port + " within " +
                   std::to_string(command_.timeout.count()) + " s; waiting for " +
                   AwaitedReply(engine));
  }
}

Clock::time_point TPortFlash::WakeAt(Clock::time_point now) const {
  auto until = now + kLongWait;
  if (drainUntil_) return std::min(until, *drainUntil_);
  if (Timed()) until = std::min(until, deadline_);
  if (replyLimit_.Deadline()) until = std::min(until, *replyLimit_.Deadline());
  return until;
}

void TPortFlash::Interrupt() {
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
  End(kExitInterrupted, "interrupted", "interrupted; port " + result_.port + " closed");
}

bool TPortFlash::Timed() const {
  return command_.timeout.count() > 0 &&
         !(command_.repeat && transfer_.Engine().TransferState() == engine::tsAwaitDevice);
}

void TPortFlash::NextBoard() {
  TFlashResult next;
  next.port = result_.port;
  next.file = command_.file;
  result_ = next;
  controls_.NextBoard();
  drainUntil_.reset();
  awaited_.clear();
  try {
    Begin();
  } catch (const std::exception& e) {
    End(kExitFailure, "failed", PortErrorText(result_.port, e));
  }
}

void TPortFlash::End(int status, const char* outcome, const std::string& message) {
  // Another board may follow unless the line or the port itself failed.
  const bool again = command_.repeat && status != kExitFailure && status != kExitInterrupted;
  done_ = !again;
  if (status == kExitOk) ++boardsDone_;
  if (status == kExitOk) {
    progress_.ClearLine();
    err_ << label_ << kProgramPrefix << message;
    if (command_.repeat) err_ << "; boards done: " << boardsDone_;
    err_ << std::endl;
  } else {
    // The line stays where the transfer stopped; the error, which names the port, below it.
    progress_.KeepLine();
    err_ << kProgramPrefix << message << std::endl;
    progress_.Redraw();
  }
  result_.status = status;
  result_.outcome = outcome;
  result_.blocks = controls_.PeakParts();
  result_.seconds = controls_.Seconds();
  result_.imageBytes = transfer_.Engine().ImageSize();
  result_.crc32 = image_.crc32;
  if (status != kExitOk && result_.error.empty()) result_.error = message;
  results_.push_back(result_);
  if (json_ != nullptr) *json_ << JsonResult(result_) << std::endl;
  if (again) return NextBoard();
}

}  // namespace cli::detail
