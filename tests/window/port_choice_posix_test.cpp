// Choosing a port from the port menu, with a pseudo-terminal standing in for a real port.
#include <stdlib.h>

#include <filesystem>

#include "recording_face.h"
#include "test_pty.h"

namespace {

using windowtest::WindowLogicTest;
using Log = std::vector<std::string>;

using testsupport::TTestPty;

constexpr const char* kBroken = "/nonexistent-dir/ttyNope";

class PortChoiceTest : public WindowLogicTest {
 protected:
  TTestPty pty;
  int opened = 0;
  int closed = 0;

  // The window closes its port when it goes; the counters must still be there then.
  void TearDown() override { win.reset(); }

  window::TMainWindow& CreateWithPorts() {
    ports = {{pty.SlavePath(), "pty"}, {kBroken, "gone"}};
    window::TMainWindow& w = Create();
    w.SerComm1().SetOnOpen([this](serial::TSerCustomComm&) { ++opened; });
    w.SerComm1().SetOnClose([this](serial::TSerCustomComm&) { ++closed; });
    return w;
  }
};

struct TChoiceCase {
  const char* name;
  const char* port;  // nullptr: the pseudo-terminal
  bool writable;     // the settings file can be written
};

class PortChoiceCaseTest : public PortChoiceTest,
                           public ::testing::WithParamInterface<TChoiceCase> {};

TEST_P(PortChoiceCaseTest, OpensShowsAndSavesTheChosenPort) {
  const auto [name, chosen, writable] = GetParam();
  if (!writable) ini = dir.File("missing/loader.ini");
  window::TMainWindow& w = CreateWithPorts();
  const std::string port = chosen ? chosen : pty.SlavePath();
  const bool opens = chosen == nullptr;
  w.PortMenuItemClick(port);
  EXPECT_EQ(w.SerComm1().IsOpen(), opens);
  EXPECT_EQ(w.SerComm1().DeviceName(), chosen == kBroken || opens ? port : "COM%d");
  // A failed open skips the rest: the pane stays as it was and nothing is saved. A failed
  // write leaves the port switched, open and shown.
  Log expected;
  if (opens) expected.push_back("SetPortPane " + port + "|pty");
  if (!writable) expected.push_back("ShowBox error Unable to write to " + ini + ".");
  if (chosen == kBroken)
    expected.push_back(std::string("ShowBox error Specified device not found (") + kBroken + ").");
  EXPECT_EQ(face.log, expected);
  EXPECT_EQ(Ini(), opens && writable ? "[PortName]\nName=" + port + "\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, PortChoiceCaseTest,
                         ::testing::Values(TChoiceCase{"Listed", nullptr, true},
                                           TChoiceCase{"NotListed", "/dev/ttyNotListed", true},
                                           TChoiceCase{"FailsToOpen", kBroken, true},
                                           TChoiceCase{"WriteFails", nullptr, false}),
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

// A HEX file whose folder takes no new files (here a kernel file system, closed even to the
// superuser) is flashed from a private folder, which goes with the image.
TEST_F(PortChoiceTest, StartInAClosedFolderConvertsIntoAPrivateOneRemovedAtTheEnd) {
  namespace fs = std::filesystem;
  testsupport::TTempDir temporary;
  ::setenv("TMPDIR", temporary.Path().c_str(), 1);
  window::TMainWindow& w = CreateWithPorts();
  face.fileAnswers = {HexFile()};
  w.ASelectFileExecute();
  w.PortMenuItemClick(pty.SlavePath());
  fs::current_path("/proc");
  face.log.clear();
  w.ABeginExecute();
  fs::current_path(dir.Path());
  EXPECT_EQ(face.Calls("ShowBox"), 0);
  EXPECT_EQ(face.Count("SetPromptVisible 1"), 1);
  std::vector<fs::path> made(fs::directory_iterator(temporary.Path()), {});
  ASSERT_EQ(made.size(), 1u);
  EXPECT_TRUE(fs::exists(made[0] / "fw.BIN"));
  sync.Shutdown();
  win.reset();
  EXPECT_TRUE(fs::is_empty(temporary.Path()));
  ::unsetenv("TMPDIR");
}

TEST_F(PortChoiceTest, DestroyingTheWindowClosesThePort) {
  CreateWithPorts().PortMenuItemClick(pty.SlavePath());
  EXPECT_TRUE(HoldsDevice(pty.SlavePath()));
  sync.Shutdown();
  win.reset();
  EXPECT_FALSE(HoldsDevice(pty.SlavePath()));
}

}  // namespace
