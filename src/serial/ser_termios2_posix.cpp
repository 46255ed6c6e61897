#include <cerrno>

#include "serial/ser_termios2.h"

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
using TTermios = struct termios2;
#define LOADER_GET_LINE(fd, t) ioctl(fd, TCGETS2, t)
#define LOADER_SET_LINE(fd, t) ioctl(fd, TCSETS2, t)
#else
#include <termios.h>
using TTermios = struct termios;
#define LOADER_GET_LINE(fd, t) tcgetattr(fd, t)
#define LOADER_SET_LINE(fd, t) tcsetattr(fd, TCSANOW, t)
#endif

namespace serial::posix {

namespace {

int SetRate(TTermios& tio, std::uint32_t rate) {
#if defined(__linux__)
  // BOTHER takes the rate as a number, so 10400 works like any other.
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = rate;
  tio.c_ospeed = rate;
  return 0;
#else
  return cfsetspeed(&tio, static_cast<speed_t>(rate)) == 0 ? 0 : errno;
#endif
}

std::uint32_t RateOf(const TTermios& tio) {
#if defined(__linux__)
  return tio.c_ospeed;
#else
  return static_cast<std::uint32_t>(cfgetospeed(&tio));
#endif
}

}  // namespace

int SetLine(int fd, const TSerDcb& dcb) {
  using namespace SerDcbFlag;
  TTermios tio{};
  if (LOADER_GET_LINE(fd, &tio) != 0) return errno;
  // Raw bytes both ways.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  tio.c_cflag |= CLOCAL | CREAD;
  switch (dcb.ByteSize) {
    case 5:
      tio.c_cflag |= CS5;
      break;
    case 6:
      tio.c_cflag |= CS6;
      break;
    case 7:
      tio.c_cflag |= CS7;
      break;
    case 8:
      tio.c_cflag |= CS8;
      break;
    default:
      return EINVAL;  // 4 data bits do not exist on these drivers
  }
  switch (dcb.Parity) {
    case 0:
      break;
    case 1:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      tio.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case 3:
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 4:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
#endif
    default:
      return EINVAL;
  }
  if (dcb.StopBits > 2) return EINVAL;
  if (dcb.StopBits != 0) tio.c_cflag |= CSTOPB;  // one and a half stop bits come out as two
  if (dcb.Flags & fParity)
    tio.c_iflag |= INPCK;
  else
    tio.c_iflag |= IGNPAR;
  const std::uint32_t rts = (dcb.Flags & fRtsControlMask) >> fRtsControlShift;
  if ((dcb.Flags & fOutxCtsFlow) || rts == 2) tio.c_cflag |= CRTSCTS;
  if (dcb.Flags & fOutX) tio.c_iflag |= IXON;
  if (dcb.Flags & fInX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  // Non-blocking reads then say EAGAIN when nothing waits, and 0 only after a hang-up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (dcb.BaudRate == 0) return EINVAL;
  if (int err = SetRate(tio, dcb.BaudRate); err != 0) return err;
  if (LOADER_SET_LINE(fd, &tio) != 0) return errno;

  TTermios back{};
  if (LOADER_GET_LINE(fd, &back) != 0) return errno;
  // Drivers pick the nearest rate their clock allows; far off means not supported.
  const double wanted = dcb.BaudRate;
  const double actual = RateOf(back);
  if (actual < wanted * 0.97 || actual > wanted * 1.03) return EINVAL;
  return 0;
}

}  // namespace serial::posix
