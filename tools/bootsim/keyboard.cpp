#include "keyboard.h"

#include <unistd.h>

#include <cerrno>

namespace bootsim {

TKeyboard::TKeyboard() {
  fd_ = STDIN_FILENO;
  if (isatty(fd_)) {
    // Only the foreground process may read the terminal.
    if (tcgetpgrp(fd_) != getpgrp()) {
      fd_ = -1;
      return;
    }
    if (tcgetattr(fd_, &saved_) == 0) {
      termios t = saved_;
      t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
      restore_ = tcsetattr(fd_, TCSANOW, &t) == 0;
    }
  }
}

TKeyboard::~TKeyboard() {
  if (restore_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

bool TKeyboard::Read() {
  char buf[256];
  const ssize_t n = read(fd_, buf, sizeof buf);
  if (n > 0) return true;
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
  fd_ = -1;
  return false;
}

}  // namespace bootsim
