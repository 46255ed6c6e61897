// flash: the window's transfer, driven from a console loop. The serial component's
// threads hand their reports to this thread through a pump synchronizer, so the engine
// runs exactly as in the window: on one thread, one notification at a time.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli_commands.h"
#include "cli_messages.h"
#include "cli_platform.h"
#include "cli_port_flash.h"
#include "cli_progress.h"
#include "cli_trace.h"
#include "engine/transfer_engine.h"
#include "oh2b/oh2b.h"
#include "platform/file.h"
#include "serial/ser_pump.h"

namespace cli {

namespace {

using detail::Clock;
using detail::kLongWait;
using detail::TPortFlash;

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

// flash --dry-run: the conversion and its checks as the transfer would run them, each port
// opened and closed again, and what the transfer would send.
int DryRun(const TCommand& command, std::ostream& out, std::ostream& err) {
  TScratchFolder scratch;
  std::string image;
  std::uint32_t crc32 = 0;
  if (const int status = ConvertHexFile(command, err, image, scratch.NewSubfolder(), &crc32);
      status != kExitOk) {
    return status;
  }
  platform::TFile file;
  if (const platform::TErrorCode error = file.OpenToRead(image); error != 0) {
    err << kProgramPrefix
        << ErrorText("Cannot open file \"" + image + "\". " + platform::SystemErrorText(error))
        << '\n';
    return kExitFailure;
  }
  const std::uint64_t size = file.Size();
  if (size == 0 && !command.allowEmpty) {
    err << kProgramPrefix << EmptyImageText(command.file) << '\n';
    return kExitFailure;
  }
  if (const int status = CheckPorts(command.ports, err); status != kExitOk) return status;
  image = Utf8Of(PathOf(image).filename());
  using engine::TTransferEngine;
  const std::uint64_t blocks = TTransferEngine::BlocksFor(size);
  out << "dry run: nothing sent (each port opened and closed)\n"
      << "port" << (command.ports.size() == 1 ? ": " : "s:") << "         " << Joined(command.ports)
      << '\n'
      << "image:         " << image << ", " << size << " byte" << (size == 1 ? "" : "s")
      << ", CRC-32 " << CrcText(crc32) << '\n'
      << "data blocks:   " << blocks << " of " << TTransferEngine::kBlockSize
      << " bytes, the last one short or empty\n"
      << "page commands: " << TTransferEngine::PageCommandsFor(size) << '\n';
  // The device's addresses are 16 bits wide.
  if (blocks * TTransferEngine::kBlockSize > 0x10000) {
    out << "note: block addresses pass 0xFFFF and wrap to 0x0000\n";
  }
  return kExitOk;
}

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
// Finish. Should an exception leave early, the destructor still closes the ports and lets
// go of the synchronizer and the interrupt watch (the trace is then not written out).
class TFlashRun {
 public:
  TFlashRun(const TCommand& command, std::ostream& out, std::ostream& err, bool errIsTerminal)
      : command_(command), out_(out), err_(err), errIsTerminal_(errIsTerminal), interrupts_([this] {
          OnInterrupt();
        }) {
    if (command.ports.size() > 1 && errIsTerminal) {
      board_.emplace(err, command.ports.size(), TerminalSequences(stderr));
    }
  }
  ~TFlashRun() { Close(); }
  TFlashRun(const TFlashRun&) = delete;
  TFlashRun& operator=(const TFlashRun&) = delete;

  // A failure before any transfer began is every port's; returns `status`.
  int FailAll(int status, const char* outcome, const std::string& text) {
    if (board_) board_->Clear();
    err_ << kProgramPrefix << text << std::endl;
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
      hexPath_ = Utf8Of(std::filesystem::absolute(PathOf(command_.file)));
    } catch (const std::exception& e) {
      return FailAll(kExitFailure, "failed", ErrorText(e.what()));
    }
    return kExitOk;
  }

  // The file is converted once, and every port sends the bytes of that one conversion: a
  // file replaced meanwhile cannot give two devices two images.
  int StartPorts() {
    oh2b::TConvertedImage image;
    try {
      const std::filesystem::path folder = scratch_->NewSubfolder();
      image = oh2b::ConvertHex(
          hexPath_, Utf8Of(folder),
          oh2b::THexOptions{command_.checkRecords, [this] { return interruptRequested_.load(); }});
    } catch (const oh2b::EConvertCancelled&) {
      return FailAll(kExitInterrupted, "interrupted", "interrupted; nothing sent");
    } catch (const std::exception& e) {
      return FailAll(kExitFailure, "failed", ConversionErrorText(command_.file, e));
    }
    if (image.path.empty()) return FailAll(kExitFailure, "failed", MissingFileText(command_.file));
    for (std::size_t i = 0; i < command_.ports.size(); ++i) {
      ports_.push_back(std::make_unique<TPortFlash>(
          command_, command_.ports[i], sync_, command_.json ? &out_ : nullptr, err_, errIsTerminal_,
          board_ ? &*board_ : nullptr, i, interruptRequested_, trace_ ? &*trace_ : nullptr));
      try {
        ports_.back()->Start(image);
      } catch (const oh2b::EConvertCancelled&) {
        return FailAll(kExitInterrupted, "interrupted", "interrupted; nothing sent");
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
    if (command_.verbosity != TCommand::TVerbosity::vbQuiet) {
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
      err_ << kProgramPrefix << ErrorText(e.what()) << std::endl;
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
  // Only a name that names nothing is missing; one that cannot be reached is the
  // conversion's error, which says why.
  const bool missing = !std::filesystem::exists(PathOf(command.file), ec) && !ec;
  if (command.dryRun || (missing && !command.json)) {
    if (!missing) return DryRun(command, out, err);
    err << kProgramPrefix << MissingFileText(command.file) << '\n';
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
