// flash: the window's transfer, driven from a console loop. The serial component's
// threads hand their reports to this thread through a pump synchronizer, so the engine
// runs exactly as in the window: on one thread, one notification at a time.
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli_commands.h"
#include "cli_platform.h"
#include "cli_progress.h"
#include "engine/transfer_engine.h"
#include "serial/ser_comm.h"
#include "serial/ser_pump.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// How long the finish command may take to come back as echo before the port is closed
// anyway; on the line it takes 3 ms.
constexpr auto kFinishDrainLimit = std::chrono::seconds(2);
constexpr std::int64_t kFinishLength = 3;
// The pump's longest single wait; only bounds the wait when no time-out is set.
constexpr auto kLongWait = std::chrono::hours(1);

class TCliTransport : public engine::ITransport {
 public:
  explicit TCliTransport(serial::TSerComm& comm) : comm_(comm) {}
  bool PortChosen() const override { return true; }
  bool IsOpen() const override { return comm_.IsOpen(); }
  void Open() override { comm_.Open(); }
  int WriteData(const void* p, int n) override {
    ++writes_;
    readSinceWrite_ = 0;
    return comm_.WriteData(p, n);
  }
  int ReadData(void* p, int n) override {
    const int got = comm_.ReadData(p, n);
    readSinceWrite_ += got;
    return got;
  }
  // Each write answers an accepted reply: the device is making progress.
  std::int64_t Writes() const { return writes_; }
  std::int64_t ReadSinceWrite() const { return readSinceWrite_; }

 private:
  serial::TSerComm& comm_;
  std::int64_t writes_ = 0;
  std::int64_t readSinceWrite_ = 0;
};

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

}  // namespace

int RunFlash(const TCommand& command, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  std::error_code ec;
  if (!std::filesystem::exists(command.file, ec)) {
    err << MissingFileText(command.file) << '\n';
    return kExitFailure;
  }

  // Declared first, destroyed last: everything below may hand calls to it.
  serial::TSerPumpSynchronizer sync;
  bool interrupted = false;
  // Before the serial threads exist, so that they inherit the blocked signals.
  TInterruptWatch interrupts(
      [&sync, &interrupted] { sync.Synchronize([&interrupted] { interrupted = true; }); });

  serial::TSerComm comm;
  serial::ApplyLoaderSettings(comm);
  comm.SetDeviceName(command.port);
  comm.SetSynchronizer(&sync);
  std::optional<std::string> lineError;
  TConsoleProgress progress(err, errIsTerminal);
  TCliTransport transport(comm);
  TCliControls controls(out, err, progress);
  engine::TransferEngine engine(transport, controls);

  comm.SetErrorDisplay([&](const std::exception& e) {
    if (!lineError) lineError = e.what();
  });
  comm.SetOnRxChar(
      [&engine](serial::TSerCustomComm&, std::int32_t count) { engine.RxChar(count); });

  // Closes the port before the synchronizer lets go of the interrupt watch.
  auto finish = [&](int status) {
    progress.ClearLine();
    comm.Close();
    sync.Shutdown();
    interrupts.Stop();
    return status;
  };

  try {
    engine.Start(command.file);
  } catch (const std::exception& e) {
    progress.ClearLine();
    err << ErrorText(e.what()) << '\n';
    return finish(kExitFailure);
  }

  const bool timed = command.timeout.count() > 0;
  std::int64_t writesSeen = transport.Writes();
  Clock::time_point deadline = Clock::now() + command.timeout;
  std::optional<Clock::time_point> drainUntil;

  for (;;) {
    if (interrupted) {
      progress.ClearLine();
      err << "loader-cli: interrupted; port " << command.port << " closed" << std::endl;
      return finish(kExitInterrupted);
    }
    if (lineError) {
      progress.ClearLine();
      err << ErrorText(*lineError) << std::endl;
      return finish(kExitFailure);
    }
    if (engine.Outcome() == engine::TOutcome::ErrorStop) return finish(kExitReplyError);
    if (engine.Outcome() == engine::TOutcome::Finished) {
      // The finish command is queued; its echo proves it has left before the port closes.
      if (!drainUntil) drainUntil = Clock::now() + kFinishDrainLimit;
      if (transport.ReadSinceWrite() >= kFinishLength || Clock::now() >= *drainUntil) {
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

    if (transport.Writes() != writesSeen) {
      writesSeen = transport.Writes();
      deadline = Clock::now() + command.timeout;
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLongWait);
    if (timed) {
      const auto now = Clock::now();
      if (now >= deadline) {
        progress.ClearLine();
        err << "loader-cli: no reply on " << command.port << " within " << command.timeout.count()
            << " s; waiting for " << AwaitedReply(engine) << std::endl;
        return finish(kExitTimeout);
      }
      wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
             std::chrono::milliseconds(1);
    }
    try {
      sync.Pump(wait);
    } catch (const std::exception& e) {
      if (!lineError) lineError = e.what();
    }
  }
}

}  // namespace cli
