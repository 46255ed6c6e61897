// Any bit rate on Linux through termios2. Kept apart because <asm/termbits.h> and
// <termios.h> define the same names.
#pragma once

#include <cstdint>

namespace serial::posix {

// Sets input and output rate of the terminal `fd` to `rate` bit/s. Returns 0 or errno.
int SetBitRate(int fd, std::uint32_t rate);
// The output rate the driver took. Returns 0 or errno.
int GetBitRate(int fd, std::uint32_t& rate);

}  // namespace serial::posix
