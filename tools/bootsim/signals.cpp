#include "signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "posix_error.h"

namespace bootsim {
namespace {

int gSignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signo) {
  const int saved = errno;
  const auto b = static_cast<unsigned char>(signo);
  [[maybe_unused]] ssize_t n = write(gSignalPipe[1], &b, 1);
  errno = saved;
}

}  // namespace

void InstallSignals() {
  if (pipe(gSignalPipe) != 0) ThrowErrno("pipe");
  for (int fd : gSignalPipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaction(s, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Reading a terminal from the background must fail, not stop the simulator.
  signal(SIGTTIN, SIG_IGN);
}

int SignalFd() {
  return gSignalPipe[0];
}

}  // namespace bootsim
