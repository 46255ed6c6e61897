#include "pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "posix_error.h"

namespace bootsim {

void TPty::Open() {
  master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) ThrowErrno("posix_openpt");
  if (grantpt(master) != 0) ThrowErrno("grantpt");
  if (unlockpt(master) != 0) ThrowErrno("unlockpt");
  const char* name = ptsname(master);
  if (name == nullptr) ThrowErrno("ptsname");
  slavePath = name;
  slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) ThrowErrno("open " + slavePath);
  // Raw: no echo by the terminal itself, no line editing, no CR/LF translation.
  termios t{};
  if (tcgetattr(slave, &t) != 0) ThrowErrno("tcgetattr " + slavePath);
  cfmakeraw(&t);
  if (tcsetattr(slave, TCSANOW, &t) != 0) ThrowErrno("tcsetattr " + slavePath);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
}

void TPty::DropUnread() const {
  if (slave >= 0) tcflush(slave, TCIFLUSH);
}

int TPty::Unread() const {
  int n = 0;
  if (slave < 0 || ioctl(slave, FIONREAD, &n) != 0) return 0;
  return n;
}

void TPty::ReleaseSlave() {
  if (slave >= 0) close(slave);
  slave = -1;
}

TPty::~TPty() {
  if (slave >= 0) close(slave);
  if (master >= 0) close(master);
}

}  // namespace bootsim
