#include "window_test_fixture.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

namespace apptest {

TPty::TPty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  const char* name = ptsname(master_);
  if (name == nullptr) throw std::runtime_error("no pseudo-terminal name");
  slavePath_ = name;
}

TPty::~TPty() {
  if (master_ >= 0) close(master_);
}

}  // namespace apptest
