/* Native peer for the Windows serial tests under Wine: opens a pseudo-terminal in raw
 * mode, prints the path of its terminal side on one line, and sends back every byte it
 * receives (a line with echo) until stdin closes or it is terminated. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

int main(void) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    perror("pty_echo: pseudo-terminal");
    return 1;
  }
  const char* name = ptsname(master);
  /* Raw mode on the terminal side, so nothing is translated or echoed by the line
   * discipline; the slave is kept open so the line stays up between Windows opens. */
  int slave = open(name, O_RDWR | O_NOCTTY);
  struct termios tio;
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    perror("pty_echo: terminal side");
    return 1;
  }
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  printf("%s\n", name);
  fflush(stdout);

  struct pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  char buf[4096];
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (fds[1].revents) {
      ssize_t r = read(STDIN_FILENO, buf, sizeof buf);
      if (r <= 0) return 0;
    }
    if (fds[0].revents & POLLIN) {
      ssize_t r = read(master, buf, sizeof buf);
      if (r <= 0) continue;
      for (ssize_t off = 0; off < r;) {
        ssize_t w = write(master, buf + off, (size_t)(r - off));
        if (w < 0 && errno != EINTR) return 1;
        if (w > 0) off += w;
      }
    }
  }
}
