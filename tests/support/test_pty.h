// A pseudo-terminal pair for tests on a real terminal: the code under test opens the slave
// side by path as its serial port, the test plays the device on the master side. POSIX only.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace testsupport {

class TTestPty {
 public:
  // A raw, non-blocking master, so bytes pass unchanged and nothing waits on an idle line.
  // Throws std::runtime_error naming the step that failed.
  TTestPty();
  ~TTestPty();
  TTestPty(const TTestPty&) = delete;
  TTestPty& operator=(const TTestPty&) = delete;

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  // The device goes away: whoever holds the slave side sees a hang-up.
  void CloseMaster();
  // Puts all of `bytes` on the line; throws std::runtime_error when the line takes fewer.
  void Send(const std::string& bytes) const;
  // What the slave side has written, once `n` bytes have come or `timeout` has passed.
  std::string Receive(std::size_t n,
                      std::chrono::milliseconds timeout = std::chrono::seconds(2)) const;

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace testsupport
