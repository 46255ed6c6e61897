// The hand-off of a call from a background thread to the user-interface thread.
#pragma once

#include <functional>

namespace serial {

// The serial component's threads hand every report (received data, transmit-empty,
// line errors) to the user-interface thread through this interface, so that all
// handlers run on that thread, one at a time.
class ISerSynchronizer {
 public:
  virtual ~ISerSynchronizer() = default;
  // Called on a background thread: runs `call` on the user-interface thread, in the
  // order of hand-off, and returns once it has run. The user-interface thread serves
  // these calls from its event processing, also inside modal loops.
  virtual void Synchronize(const std::function<void()>& call) = 0;
};

}  // namespace serial
