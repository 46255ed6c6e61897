#include "ser_rig.h"

#include <cstdlib>

namespace testsupport {

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPumpStep{5};
}  // namespace

void TSerRig::Attach(serial::TSerCustomComm& comm) {
  comm.SetSynchronizer(&sync);
  comm.SetErrorDisplay([this](const std::exception& e) { shown.push_back(e.what()); });
}

bool TSerRig::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    sync.Pump(kPumpStep);
  }
  return true;
}

void TSerRig::PumpFor(std::chrono::milliseconds duration) {
  const auto until = Clock::now() + duration;
  while (Clock::now() < until) sync.Pump(kPumpStep);
}

std::string WineEchoPort() {
  const char* port = std::getenv("LOADER_WINE_ECHO_PORT");
  return port != nullptr ? port : "";
}

}  // namespace testsupport
