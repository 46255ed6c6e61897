// flash: the window's transfer, driven from a console loop. The serial component's
// threads hand their reports to this thread through a pump synchronizer, so the engine
// runs exactly as in the window: on one thread, one notification at a time.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli_commands.h"
#include "cli_platform.h"
#include "cli_progress.h"
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
  void SetPartsComplete(std::uint32_t parts) override { progress_.SetPartsComplete(parts); }
  void SetProgressVisible(bool visible) override { progress_.SetVisible(visible); }
  void SetControlsEnabled(bool) override {}
  void SetPromptVisible(bool visible) override {
    if (!visible) return;
    out_ << kPowerOnPrompt << std::endl;
  }
  void ShowMessage(const std::string& text) override {
    progress_.ClearLine();
    err_ << text << std::endl;
  }

 private:
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
std::string AwaitedReply(const engine::TransferEngine& e) {
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
          static_cast<unsigned>(block * engine::TransferEngine::kBlockSize) & 0xFFFFu;
      return "the sum " + Hex(e.ExpectedReply(), 2) + " of block " + std::to_string(block) +
             " (address " + Hex(address, 4) + ")";
    }
    case engine::tsIdle:
      break;
  }
  return "nothing";
}

// flash --dry-run: the conversion and its checks as the transfer would run them, and what
// the transfer would send. No port is opened: the port need not even exist.
int DryRun(const TCommand& command, std::ostream& out, std::ostream& err) {
  std::string image;
  if (const int status = ConvertHexFile(command, err, image); status != kExitOk) return status;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(image, ec);
  if (ec) {
    err << ErrorText("Cannot open file \"" + image + "\". " + ec.message()) << '\n';
    return kExitFailure;
  }
  using engine::TransferEngine;
  const std::uint64_t blocks = TransferEngine::BlocksFor(size);
  out << "dry run: no port opened, nothing sent\n"
      << "port:          " << command.port << '\n'
      << "image:         " << image << ", " << size << " byte" << (size == 1 ? "" : "s") << '\n'
      << "data blocks:   " << blocks << " of " << TransferEngine::kBlockSize
      << " bytes, the last one short or empty\n"
      << "page commands: " << TransferEngine::PageCommandsFor(size) << '\n';
  // The device's addresses are 16 bits wide.
  if (blocks * TransferEngine::kBlockSize > 0x10000) {
    out << "note: block addresses pass 0xFFFF and wrap to 0x0000\n";
  }
  return kExitOk;
}

}  // namespace

int RunFlash(const TCommand& command, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  std::error_code ec;
  if (!std::filesystem::exists(command.file, ec)) {
    err << MissingFileText(command.file) << '\n';
    return kExitFailure;
  }
  if (command.dryRun) return DryRun(command, out, err);

  // Declared first, destroyed last: everything below may hand calls to it.
  serial::TSerPumpSynchronizer sync;
  bool interrupted = false;
  // Seen at once by a conversion in progress (this thread is busy then, not pumping).
  std::atomic<bool> interruptRequested{false};
  // Before the serial threads exist, so that they inherit the blocked signals.
  TInterruptWatch interrupts([&sync, &interrupted, &interruptRequested] {
    interruptRequested = true;
    sync.Synchronize([&interrupted] { interrupted = true; });
  });

  serial::TSerComm comm;
  serial::ApplyLoaderSettings(comm);
  comm.SetDeviceName(command.port);
  comm.SetSynchronizer(&sync);
  std::optional<std::string> lineError;
  std::optional<session::EPortLost> portLost;
  TConsoleProgress progress(err, errIsTerminal);
  TCliControls controls(out, err, progress);
  session::TDeadlineTimer replyLimit;
  session::TTransferSession transfer(comm, controls, replyLimit, [&](const std::exception& e) {
    if (const auto* lost = dynamic_cast<const session::EPortLost*>(&e)) {
      if (!portLost) portLost = *lost;
    } else if (!lineError) {
      lineError = e.what();
    }
  });
  const engine::TransferEngine& engine = transfer.Engine();
  transfer.Engine().SetConversionCancel(
      [&interruptRequested] { return interruptRequested.load(); });
  transfer.Engine().SetRecordChecks(command.checkRecords);

  // Closes the port before the synchronizer lets go of the interrupt watch.
  auto finish = [&](int status) {
    progress.ClearLine();
    comm.Close();
    sync.Shutdown();
    interrupts.Stop();
    return status;
  };

  try {
    transfer.Start(command.file);
  } catch (const oh2b::EConvertCancelled&) {
    progress.ClearLine();
    err << "loader-cli: interrupted; nothing sent" << std::endl;
    return finish(kExitInterrupted);
  } catch (const std::exception& e) {
    progress.ClearLine();
    err << ConversionErrorText(command.file, e) << '\n';
    return finish(kExitFailure);
  }

  const bool timed = command.timeout.count() > 0;
  std::int64_t writesSeen = transfer.Writes();
  Clock::time_point deadline = Clock::now() + command.timeout;
  std::optional<Clock::time_point> drainUntil;
  std::string awaited;  // what the device left unanswered when the reply limit passed

  for (;;) {
    if (interrupted) {
      progress.ClearLine();
      err << "loader-cli: interrupted; port " << command.port << " closed" << std::endl;
      return finish(kExitInterrupted);
    }
    if (portLost) {
      progress.ClearLine();
      err << "loader-cli: lost port " << portLost->Port() << ": " << ErrorText(portLost->Detail())
          << std::endl;
      return finish(kExitFailure);
    }
    if (lineError) {
      progress.ClearLine();
      err << ErrorText(*lineError) << std::endl;
      return finish(kExitFailure);
    }
    if (engine.Outcome() == engine::TOutcome::ErrorStop) return finish(kExitReplyError);
    if (engine.Outcome() == engine::TOutcome::NoReply) {
      err << "loader-cli: no reply on " << command.port << " within "
          << std::chrono::duration_cast<std::chrono::seconds>(session::kReplyLimit).count()
          << " s; waiting for " << awaited << std::endl;
      return finish(kExitTimeout);
    }
    if (engine.Outcome() == engine::TOutcome::Finished) {
      // The finish command is queued; its echo proves it has left before the port closes.
      if (!drainUntil) drainUntil = Clock::now() + kFinishDrainLimit;
      if (transfer.ReadSinceWrite() >= kFinishLength || Clock::now() >= *drainUntil) {
        const double seconds = std::chrono::duration<double>(progress.Elapsed()).count();
        char summary[128];
        std::snprintf(summary, sizeof summary, "loader-cli: done, %u block%s in %.1f s",
                      static_cast<unsigned>(progress.Blocks()), progress.Blocks() == 1 ? "" : "s",
                      seconds);
        err << summary << std::endl;
        return finish(kExitOk);
      }
      sync.Pump(std::chrono::duration_cast<std::chrono::milliseconds>(*drainUntil - Clock::now()) +
                std::chrono::milliseconds(1));
      continue;
    }

    if (transfer.Writes() != writesSeen) {
      writesSeen = transfer.Writes();
      deadline = Clock::now() + command.timeout;
    }
    const auto now = Clock::now();
    if (replyLimit.Deadline() && now >= *replyLimit.Deadline()) {
      awaited = AwaitedReply(engine);
      replyLimit.FireIfDue(now);
      continue;
    }
    auto until = now + kLongWait;
    if (timed) {
      if (now >= deadline) {
        progress.ClearLine();
        err << "loader-cli: no reply on " << command.port << " within " << command.timeout.count()
            << " s; waiting for " << AwaitedReply(engine) << std::endl;
        return finish(kExitTimeout);
      }
      until = std::min(until, deadline);
    }
    if (replyLimit.Deadline()) until = std::min(until, *replyLimit.Deadline());
    try {
      sync.Pump(std::chrono::duration_cast<std::chrono::milliseconds>(until - now) +
                std::chrono::milliseconds(1));
    } catch (const std::exception& e) {
      if (!lineError) lineError = e.what();
    }
  }
}

}  // namespace cli
