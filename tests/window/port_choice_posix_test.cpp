// Choosing a port from the port menu, with a pseudo-terminal standing in for a real port.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "recording_face.h"

namespace {

using window::TBoxIcon;
using windowtest::WindowLogicTest;

// A pseudo-terminal whose slave end stands in for a serial port.
class TPty {
 public:
  TPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    const char* name = master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0
                           ? ptsname(master_)
                           : nullptr;
    if (name == nullptr) throw std::runtime_error("no pseudo-terminal");
    slavePath_ = name;
  }
  ~TPty() {
    if (master_ >= 0) close(master_);
  }
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;
  const std::string& SlavePath() const { return slavePath_; }

 private:
  int master_ = -1;
  std::string slavePath_;
};

class PortChoiceTest : public WindowLogicTest {
 protected:
  TPty pty;
  int opened = 0;
  int closed = 0;

  window::TMainWindow& CreateWithPorts() {
    ports = {{pty.SlavePath(), "pty"}, {"/nonexistent-dir/ttyNope", "gone"}};
    window::TMainWindow& w = Create();
    w.SerComm1().SetOnOpen([this](serial::TSerCustomComm&) { ++opened; });
    w.SerComm1().SetOnClose([this](serial::TSerCustomComm&) { ++closed; });
    face.Clear();
    return w;
  }
};

struct TChoiceCase {
  const char* name;
  const char* port;  // nullptr: the pseudo-terminal
  bool writable;     // the settings file can be written
  bool opens;
  const char* box;  // the start of the error shown, or nullptr
};

class PortChoiceCaseTest : public PortChoiceTest,
                           public ::testing::WithParamInterface<TChoiceCase> {};

TEST_P(PortChoiceCaseTest, OpensShowsAndSavesTheChosenPort) {
  const TChoiceCase& c = GetParam();
  if (!c.writable) ini = dir.File("missing/loader.ini");
  window::TMainWindow& w = CreateWithPorts();
  const std::string port = c.port ? c.port : pty.SlavePath();
  w.PortMenuItemClick(port);
  EXPECT_EQ(w.SerComm1().IsOpen(), c.opens);
  EXPECT_EQ(w.SerComm1().DeviceName(), c.opens || c.box ? port : window::kUnchosenPort);
  // The pane follows an open port only; the rest of a failed handler is skipped.
  EXPECT_EQ(face.Calls("SetPortPane"), c.opens ? 1 : 0);
  if (c.opens) {
    EXPECT_EQ(face.Count("SetPortPane " + port + "|pty"), 1);
  }
  const bool saved = c.opens && c.writable;
  EXPECT_EQ(Ini().find("[PortName]\nName=" + port + "\n") != std::string::npos, saved) << Ini();
  if (c.box == nullptr) {
    EXPECT_TRUE(face.boxes.empty());
    if (!c.opens) {
      EXPECT_TRUE(face.log.empty());
    }
  } else {
    ASSERT_EQ(face.boxes.size(), 1u);
    EXPECT_TRUE(face.boxes[0].text.starts_with(c.box)) << face.boxes[0].text;
    EXPECT_NE(face.boxes[0].text.find(c.opens ? ini : "ttyNope"), std::string::npos);
    EXPECT_TRUE(face.boxes[0].text.ends_with('.'));
    EXPECT_EQ(face.boxes[0].icon, TBoxIcon::Error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortChoiceCaseTest,
    ::testing::Values(TChoiceCase{"Listed", nullptr, true, true, nullptr},
                      TChoiceCase{"NotListed", "/dev/ttyNotListed", true, false, nullptr},
                      TChoiceCase{"FailsToOpen", "/nonexistent-dir/ttyNope", true, false, ""},
                      // The port stays switched, open and shown.
                      TChoiceCase{"WriteFails", nullptr, false, true, "Unable to write to "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortChoiceTest, ChoosingTheSamePortAgainReopensIt) {
  window::TMainWindow& w = CreateWithPorts();
  w.PortMenuItemClick(pty.SlavePath());
  w.PortMenuItemClick(pty.SlavePath());
  EXPECT_TRUE(w.SerComm1().IsOpen());
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(closed, 1);
}

// Whether this process holds a descriptor on the given device.
bool HoldsDevice(const std::string& device) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(entry.path(), ignored) == device) return true;
  }
  return false;
}

TEST_F(PortChoiceTest, DestroyingTheWindowClosesThePort) {
  CreateWithPorts().PortMenuItemClick(pty.SlavePath());
  EXPECT_TRUE(HoldsDevice(pty.SlavePath()));
  sync.Shutdown();
  win.reset();
  EXPECT_FALSE(HoldsDevice(pty.SlavePath()));
}

}  // namespace
