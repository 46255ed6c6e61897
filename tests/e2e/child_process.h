// Child processes for the end-to-end tests and the serial benchmark: the simulator and
// the command-line tool run as real programs, talking over a real pseudo-terminal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace e2e {

using testsupport::IntelHex;
using testsupport::ReadFile;
using testsupport::TTempDir;
using testsupport::WriteFile;

struct TSpawnOptions {
  std::string cwd;         // empty: the caller's
  bool stdinPipe = false;  // otherwise /dev/null
  std::string stderrFile;  // empty: /dev/null
};

class TChild {
 public:
  // Starts argv[0] (a path) with the caller's environment; throws std::runtime_error.
  TChild(const std::vector<std::string>& argv, const TSpawnOptions& options);
  // A child still running is killed.
  ~TChild();
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  pid_t Pid() const { return pid_; }
  // Reads standard output until it holds `text`; false on end of output or time-out.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // The first line of standard output (without the newline); "" on time-out.
  std::string FirstLine(std::chrono::milliseconds timeout);
  void WriteStdin(const std::string& bytes);
  void Signal(int signo);
  // Waits for the exit: the exit status, 128 + signal when killed by one, or -1 after a
  // time-out (the child is then killed).
  int Wait(std::chrono::milliseconds timeout);

  const std::string& Output() const { return out_; }
  std::string Errors() const;

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int inFd_ = -1;
  std::string errFile_;
  std::string out_;
  bool outEnded_ = false;
  int status_ = -1;
};

// The file's bytes as a byte vector (the images the device received).
std::vector<std::uint8_t> ReadBytes(const std::string& path);

}  // namespace e2e
