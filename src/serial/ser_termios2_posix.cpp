#include <cerrno>

#include "serial/ser_termios2.h"

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace serial::posix {

int SetBitRate(int fd, std::uint32_t rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = rate;
  tio.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

int GetBitRate(int fd, std::uint32_t& rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  rate = tio.c_ospeed;
  return 0;
}

}  // namespace serial::posix

#else
// Elsewhere only the standard rates are available.
#include <termios.h>

namespace serial::posix {

int SetBitRate(int fd, std::uint32_t rate) {
  struct termios tio {};
  if (tcgetattr(fd, &tio) != 0) return errno;
  if (cfsetspeed(&tio, static_cast<speed_t>(rate)) != 0) return errno;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return errno;
  return 0;
}

int GetBitRate(int fd, std::uint32_t& rate) {
  struct termios tio {};
  if (tcgetattr(fd, &tio) != 0) return errno;
  rate = static_cast<std::uint32_t>(cfgetospeed(&tio));
  return 0;
}

}  // namespace serial::posix
#endif
