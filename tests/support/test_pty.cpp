#include "test_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testsupport {
namespace {

[[noreturn]] void Fail(const std::string& what, int code) {
  throw std::runtime_error("pseudo-terminal: " + what + ": " + std::strerror(code));
}

}  // namespace

TTestPty::TTestPty() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
  if (master_ < 0) Fail("posix_openpt", errno);
  const char* name = nullptr;
  termios tio{};
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || (name = ptsname(master_)) == nullptr ||
      tcgetattr(master_, &tio) != 0) {
    const int code = errno;
    ::close(master_);
    Fail("cannot set up the slave side", code);
  }
  slavePath_ = name;
  cfmakeraw(&tio);
  tcsetattr(master_, TCSANOW, &tio);
}

TTestPty::~TTestPty() {
  CloseMaster();
}

void TTestPty::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void TTestPty::Send(const std::string& bytes) const {
  const ssize_t n = ::write(master_, bytes.data(), bytes.size());
  if (n < 0) Fail("write to " + slavePath_, errno);
  if (static_cast<std::size_t>(n) != bytes.size()) {
    throw std::runtime_error("pseudo-terminal: " + slavePath_ + " took " + std::to_string(n) +
                             " of " + std::to_string(bytes.size()) + " byte(s)");
  }
}

std::string TTestPty::Receive(std::size_t n, std::chrono::milliseconds timeout) const {
  using Clock = std::chrono::steady_clock;
  std::string out;
  const auto deadline = Clock::now() + timeout;
  while (out.size() < n) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[256];
    const ssize_t r = ::read(master_, buf, sizeof buf);
    if (r > 0) {
      out.append(buf, static_cast<std::size_t>(r));
    } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;  // nobody holds the slave side: nothing more can come, and poll would not wait
    }
  }
  return out;
}

}  // namespace testsupport
