// The simulator's time: CLOCK_MONOTONIC in nanoseconds, and how long a byte takes on the line.
#pragma once

#include <time.h>

#include <cstdint>

namespace bootsim {

using Ns = std::int64_t;

// 10400 bit/s with a start bit, 8 data bits and a stop bit.
constexpr Ns kByteNs = 10LL * 1'000'000'000LL / 10400;

Ns Now();
// A negative span counts as none: a deadline already passed is due at once.
timespec ToTimespec(Ns ns);

}  // namespace bootsim
