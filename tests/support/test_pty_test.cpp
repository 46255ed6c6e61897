// The tests' pseudo-terminal: what reaches the slave side, and how its failures read.
#include "test_pty.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testsupport {
namespace {

using namespace std::chrono_literals;

TEST(TestPty, ReceiveReturnsWhatCameOnceTheCountIsReachedOrTheTimeIsUp) {
  TTestPty pty;
  const int slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  ASSERT_EQ(::write(slave, "a\nb", 3), 3);
  EXPECT_EQ(pty.Receive(3), "a\nb");  // raw: the line end is not translated
  EXPECT_EQ(pty.Receive(1, 10ms), "");
  EXPECT_EQ(pty.Receive(0, 0ms), "");
  ::close(slave);
  // With the slave side gone, nothing can come: no waiting out the time.
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(pty.Receive(1, 60s), "");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s);
}

TEST(TestPty, FailuresNameTheirCause) {
  TTestPty pty;
  const std::string path = pty.SlavePath();
  pty.CloseMaster();
  try {
    pty.Send("x");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "pseudo-terminal: write to " + path + ": Bad file descriptor");
  }
  // No descriptor left for the master side.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowest = ::dup(0);
  ::close(lowest);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  try {
    TTestPty none;
    setrlimit(RLIMIT_NOFILE, &saved);
    FAIL();
  } catch (const std::runtime_error& e) {
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_STREQ(e.what(), "pseudo-terminal: posix_openpt: Too many open files");
  }
}

}  // namespace
}  // namespace testsupport
