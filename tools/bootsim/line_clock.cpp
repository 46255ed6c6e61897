#include "line_clock.h"

namespace bootsim {

Ns Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Ns>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

timespec ToTimespec(Ns ns) {
  if (ns < 0) ns = 0;
  return timespec{static_cast<time_t>(ns / 1'000'000'000LL),
                  static_cast<long>(ns % 1'000'000'000LL)};
}

}  // namespace bootsim
