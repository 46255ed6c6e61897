#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "cli_platform.h"
#include "platform/file.h"

namespace cli {

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

// Terminals here take UTF-8 and the cursor sequences as they are.
struct TConsoleSession::TImpl {};
TConsoleSession::TConsoleSession() = default;
TConsoleSession::~TConsoleSession() = default;

bool TerminalSequences(std::FILE*) {
  return true;
}

struct TInterruptWatch::TImpl {
  sigset_t set{};
  std::atomic<bool> stop{false};
  std::thread thread;
};

TInterruptWatch::TInterruptWatch(std::function<void()> onInterrupt)
    : impl_(std::make_unique<TImpl>()) {
  sigemptyset(&impl_->set);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&impl_->set, s);
  // Blocked here and, by inheritance, in every thread started from now on: only the
  // watching thread takes them, through sigwait.
  pthread_sigmask(SIG_BLOCK, &impl_->set, nullptr);
  impl_->thread = std::thread([impl = impl_.get(), onInterrupt = std::move(onInterrupt)] {
    for (;;) {
      int sig = 0;
      if (sigwait(&impl->set, &sig) != 0) continue;
      if (impl->stop.load()) return;
      onInterrupt();
    }
  });
}

TInterruptWatch::~TInterruptWatch() {
  Stop();
}

void TInterruptWatch::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->stop.store(true);
  pthread_kill(impl_->thread.native_handle(), SIGINT);
  impl_->thread.join();
  // The signals stay blocked: the program is on its way out, and a late Ctrl-C must not
  // kill it halfway through closing.
}

}  // namespace cli
