// The signal handler only sets a flag and writes a byte into a socket pair; the event
// loop's notifier on the other end does the rest on the user-interface thread.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <utility>

#include "app/quit_signals.h"
#include "platform/file.h"

namespace app {

namespace {

constexpr std::array<int, 2> kSignals = {SIGTERM, SIGHUP};

std::atomic<bool> requested{false};
int wakeFds[2] = {-1, -1};  // [0] read by the notifier, [1] written by the handler

extern "C" void OnQuitSignal(int) {
  const int saved = errno;
  requested.store(true);
  const char byte = 1;
  // Non-blocking: a full pair already holds a wake-up.
  [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
  errno = saved;
}

}  // namespace

TQuitSignals::TQuitSignals(std::function<void()> quit) : quit_(std::move(quit)) {
  requested.store(false);
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, wakeFds) != 0) {
    throw std::runtime_error("socketpair: " +
                             platform::SystemErrorText(static_cast<platform::TErrorCode>(errno)));
  }
  notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Arrived(); });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

TQuitSignals::~TQuitSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
  delete notifier_;
  for (int& fd : wakeFds) {
    ::close(fd);
    fd = -1;
  }
}

bool TQuitSignals::Requested() {
  return requested.load();
}

void TQuitSignals::Arrived() {
  char bytes[16];
  while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
  }
  quit_();
}

}  // namespace app
