#include "line_stats.h"

namespace bootsim {

bool TLineStats::LoaderSent(Ns now) {
  if (awaitingNext_) {
    turnarounds_.push_back(now - lastReplyAt_);
    awaitingNext_ = false;
  }
  if (sessionActive_) return false;
  sessionActive_ = true;
  sessionStart_ = now;
  sessionBytes_ = 0;
  return true;
}

void TLineStats::Written(std::size_t count, bool reply, Ns start, Ns end) {
  if (reply) {
    lastReplyAt_ = start;
    awaitingNext_ = true;
  }
  if (sessionActive_) {
    sessionBytes_ += static_cast<std::int64_t>(count);
    sessionEnd_ = end;
  }
}

void TLineStats::Restart() {
  CloseSession();
  awaitingNext_ = false;
}

void TLineStats::CloseSession() {
  if (!sessionActive_) return;
  lineBytes_ += sessionBytes_;
  lineNs_ += sessionEnd_ - sessionStart_;
  sessionActive_ = false;
}

void TLineStats::Write(std::ostream& out, bool paced) const {
  out << "byte_ns " << kByteNs << "\n";
  out << "paced " << (paced ? 1 : 0) << "\n";
  out << "line_bytes " << lineBytes_ << "\n";
  out << "line_ns " << lineNs_ << "\n";
  out << "turnarounds " << turnarounds_.size() << "\n";
  for (Ns t : turnarounds_) out << "turnaround_ns " << t << "\n";
}

}  // namespace bootsim
