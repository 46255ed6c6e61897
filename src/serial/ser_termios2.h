// The terminal side of the line settings. Kept apart because Linux's termios2 (any bit rate)
// comes from <asm/termbits.h>, which cannot meet <termios.h>.
#pragma once

#include "serial/ser_platform.h"

namespace serial::posix {

// Puts the terminal `fd` into raw mode with the frame, flow control, characters and bit rate
// of `dcb` in one step, and reads the rate back. Modem lines are not touched. Returns 0 or
// errno (EINVAL for what the terminal cannot do).
int SetLine(int fd, const TSerDcb& dcb);

}  // namespace serial::posix
