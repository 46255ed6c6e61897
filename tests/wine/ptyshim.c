/* LD_PRELOAD library for running Windows programs under Wine against a pseudo-terminal.
 *
 * Wine's serial driver reads the modem lines (TIOCMGET) while it waits for line events;
 * a pseudo-terminal has no modem lines and refuses with ENOTTY, which makes Wine end
 * every WaitCommEvent as aborted. Here the modem-line requests that the terminal
 * refuses are answered as a quiet line would answer them: no lines raised, changes
 * accepted. Every other request, and every one the device does serve, goes through
 * unchanged.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn real_ioctl(void) {
  static ioctl_fn fn;
  if (!fn) fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  return fn;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);

  int saved = errno;
  int rc = real_ioctl()(fd, request, arg);
  if (rc != -1 || (errno != ENOTTY && errno != EINVAL)) return rc;

  switch (request) {
    case TIOCMGET:
      if (arg) *(int*)arg = 0;
      errno = saved;
      return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
      errno = saved;
      return 0;
    default:
      return rc;
  }
}
