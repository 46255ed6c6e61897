// flash --trace: every byte on each line, for debugging a device's boot code in the field.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>

#include "session/transfer_session.h"

namespace cli {

// The trace file could not be created or written: "Cannot open file "<path>". <reason>."
// or "Cannot write file "<path>". <reason>.".
class ETraceFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "<microseconds> <port> sent|echo|reply|ignored XX XX ..." for a trace or -v: what the
// engine did with the bytes.
std::string TraceLine(std::chrono::microseconds at, const std::string& port,
                      session::TByteDirection direction, const std::uint8_t* bytes,
                      std::size_t count);

// One line per packet written and per run of received bytes that the engine treated alike:
// microseconds since the trace began, the port, what became of them (sent, echo, reply,
// ignored) and the bytes in hex.
class TByteTrace {
 public:
  using Clock = std::chrono::steady_clock;

  // Creates (or empties) the file and writes its heading; throws ETraceFileError.
  explicit TByteTrace(const std::string& path);

  Clock::time_point Start() const { return start_; }
  void Record(const std::string& port, session::TByteDirection direction, const std::uint8_t* bytes,
              std::size_t count);
  // Writes out what is buffered; throws ETraceFileError if any of the trace was lost.
  void Finish();

 private:
  void Check();

  std::string path_;
  std::ofstream file_;
  Clock::time_point start_ = Clock::now();
};

}  // namespace cli
