// The figures of --stats: how long the loader takes from a reply of the device to its next
// packet (turnaround), and how many bytes a second the line carries while a loader is at work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "line_clock.h"

namespace bootsim {

class TLineStats {
 public:
  // The loader's bytes came in at `now`: a turnaround under way ends here. The first bytes
  // after a power-on open a session; true then.
  bool LoaderSent(Ns now);
  // `count` bytes went onto the line in a write from `start` to `end`; `reply`: among them a
  // reply of the device that the loader answers. Only bytes within a session count.
  void Written(std::size_t count, bool reply, Ns start, Ns end);
  // The device is switched on again: the session so far is counted, a reply that has not
  // been answered is forgotten.
  void Restart();
  // Counts the open session, if any, into the line figures.
  void CloseSession();
  // One "name value" a line: byte_ns, paced, line_bytes, line_ns, turnarounds and a
  // turnaround_ns line for each.
  void Write(std::ostream& out, bool paced) const;

 private:
  // Turnaround: a reply written -> the first byte of the loader's next packet.
  bool awaitingNext_ = false;
  Ns lastReplyAt_ = 0;
  std::vector<Ns> turnarounds_;
  // Line use: from the loader's first byte to the last byte written, per session.
  bool sessionActive_ = false;
  Ns sessionStart_ = 0;
  Ns sessionEnd_ = 0;
  std::int64_t sessionBytes_ = 0;
  std::int64_t lineBytes_ = 0;
  Ns lineNs_ = 0;
};

}  // namespace bootsim
