// The serial component's tests share this rig: a pumped synchronizer the component hands its
// reports to, and a record of what its error display would have shown. Each test adds its own
// line (a scripted device, a pseudo-terminal, a Wine COM port).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "serial/ser_comm.h"
#include "serial/ser_pump.h"

namespace testsupport {

class TSerRig {
 public:
  serial::TSerPumpSynchronizer sync;
  std::vector<std::string> shown;  // the error display's texts, in order

  // Hands `comm`'s reports through `sync` and records its errors in `shown`. The component
  // must go before this rig does.
  void Attach(serial::TSerCustomComm& comm);
  // Runs the hand-offs until done() holds or `limit` has passed; returns done().
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(3));
  // Runs the hand-offs for `duration`, whatever comes.
  void PumpFor(std::chrono::milliseconds duration);
};

// The COM port whose other end sends back every byte (LOADER_WINE_ECHO_PORT, set by
// scripts/wine-tests.sh); empty when the tests run without one.
std::string WineEchoPort();

}  // namespace testsupport
