#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "fuzz_limits.h"

namespace fuzzsupport {

void LimitFileSize(std::uint64_t bytes) {
  // Without this the kernel ends the process with SIGXFSZ instead of failing the write.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
    std::perror("getrlimit(RLIMIT_FSIZE)");
    std::abort();
  }
  // Only the soft limit, so a later caller may raise it again.
  if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > bytes) limit.rlim_cur = bytes;
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
    std::perror("setrlimit(RLIMIT_FSIZE)");
    std::abort();
  }
}

}  // namespace fuzzsupport
