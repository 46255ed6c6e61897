// The main window's behaviour, whatever face draws it: start-up, the file choice, the port
// menu, the pending message and the error display.
#include <filesystem>
#include <stdexcept>

#include "app/error_text.h"
#include "recording_face.h"

namespace {

using window::kNoPortMessage;
using window::TBoxIcon;
using windowtest::WindowLogicTest;

struct TStartupCase {
  const char* name;
  const char* iniText;  // $HEX: an existing HEX file; $GONE: one that does not exist
  const char* device;   // DeviceName afterwards
  bool fileRestored;
};

class StartupTest : public WindowLogicTest, public ::testing::WithParamInterface<TStartupCase> {};

TEST_P(StartupTest, RestoresWhatIsThereAndPromptsForTheRest) {
  const TStartupCase& c = GetParam();
  ports = {{"COM1", "/dev/ttyS0"}, {"COM3", "/dev/ttyUSB0 FTDI"}};
  std::string text = c.iniText;
  for (auto [key, value] : {std::pair{"$HEX", HexFile()}, {"$GONE", dir.File("gone.hex")}})
    if (auto at = text.find(key); at != std::string::npos) text.replace(at, 5, value);
  if (!text.empty()) testsupport::WriteFile(ini, text);
  const bool portRestored = std::string(c.device) != window::kUnchosenPort;

  window::TMainWindow& w = Create();
  EXPECT_EQ(w.SerComm1().DeviceName(), c.device);
  EXPECT_FALSE(w.SerComm1().IsOpen());  // opened only when chosen or started
  EXPECT_EQ(face.Calls("SetPortPane"), portRestored ? 1 : 0);
  EXPECT_EQ(
      face.Count("SetPortPane COM3|/dev/ttyUSB0 FTDI") + face.Count("SetPortPane COM1|/dev/ttyS0"),
      portRestored ? 1 : 0);
  EXPECT_EQ(face.Count("PostPendingMessage"), portRestored ? 0 : 1);
  EXPECT_EQ(face.Count("RunFileDialog"), c.fileRestored ? 0 : 1);
  // The dialog was cancelled: no file, an empty caption, and ABegin as it was (enabled).
  EXPECT_EQ(w.HexFileName(), c.fileRestored ? dir.File("fw.hex") : "");
  EXPECT_EQ(face.Count("SetBeginEnabled 1"), c.fileRestored ? 1 : 0);
  EXPECT_EQ(face.Count("SetBeginEnabled 0") + face.Count("SetTransferControlsEnabled 0"), 0);
  EXPECT_EQ(face.log.back(),
            "SetStatusText " + std::string(c.fileRestored ? "fw.hex|" : "|") + w.HexFileName());
  EXPECT_EQ(face.Count(c.fileRestored ? "SetCaption fw.hex" : "SetCaption "), 1);
  EXPECT_EQ(testsupport::ReadFile(ini), text);  // the saved values stay until others are chosen

  if (!portRestored && !c.fileRestored) {
    // The dialog's loop showed the box over the dialog, before the window was first shown.
    ASSERT_EQ(face.boxes.size(), 1u);
    EXPECT_TRUE(face.boxes[0].overFileDialog);
  } else if (!portRestored) {
    EXPECT_TRUE(face.boxes.empty());  // waits for the application's loop
    EXPECT_EQ(w.PendingMessage(), kNoPortMessage);
    face.DeliverPosted();
    ASSERT_EQ(face.boxes.size(), 1u);
    EXPECT_FALSE(face.boxes[0].overFileDialog);
  }
  if (!portRestored) {
    EXPECT_EQ(face.boxes[0].text, kNoPortMessage);
    EXPECT_EQ(face.boxes[0].icon, TBoxIcon::None);
    EXPECT_EQ(w.PendingMessage(), "");
  } else {
    EXPECT_TRUE(face.boxes.empty());
  }
}

constexpr const char* kFile = "[FileName]\nName=$HEX\n";
INSTANTIATE_TEST_SUITE_P(
    Cases, StartupTest,
    ::testing::Values(
        TStartupCase{"NoSettings", "", "COM%d", false},
        TStartupCase{"SavedPortAndFile", "[PortName]\nName=COM3\n[FileName]\nName=$HEX\n", "COM3",
                     true},
        TStartupCase{"PortCaseDiffers", "[PortName]\nName=com3\n[FileName]\nName=$HEX\n", "COM%d",
                     true},
        TStartupCase{"PortGone", "[PortName]\nName=COM7\n[FileName]\nName=$HEX\n", "COM%d", true},
        TStartupCase{"PortSectionMissing", kFile, "COM%d", true},
        TStartupCase{"PortSectionEmpty", "[PortName]\n[FileName]\nName=$HEX\n", "COM%d", true},
        // A section without the key falls back to COM1, which is present.
        TStartupCase{"PortKeyMissing", "[PortName]\nOther=COM3\n[FileName]\nName=$HEX\n", "COM1",
                     true},
        TStartupCase{"FileGone", "[PortName]\nName=COM3\n[FileName]\nName=$GONE\n", "COM3", false},
        TStartupCase{"FileSectionEmpty", "[PortName]\nName=COM3\n[FileName]\n", "COM3", false},
        TStartupCase{"FileKeyMissing", "[PortName]\nName=COM3\n[FileName]\nOther=$HEX\n", "COM3",
                     false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowLogicTest, CaptionIsSetOnceFromTheFileChosenAtStartUp) {
  ports = {{"COM1", ""}};
  face.fileAnswers = {dir.File("typed.hex"), dir.File("other.hex")};  // neither exists
  window::TMainWindow& w = Create();
  EXPECT_EQ(w.HexFileName(), dir.File("typed.hex"));
  w.ASelectFileExecute();
  EXPECT_EQ(w.HexFileName(), dir.File("other.hex"));
  EXPECT_EQ(face.Count("SetCaption typed.hex"), 1);
  EXPECT_EQ(face.Calls("SetCaption"), 1);
}

struct TFileCase {
  const char* name;
  bool chosen;      // the dialog is confirmed
  bool writable;    // the settings file can be written
  const char* box;  // the error shown, or nullptr
};

class FileChoiceTest : public WindowLogicTest, public ::testing::WithParamInterface<TFileCase> {};

TEST_P(FileChoiceTest, TakesTheChosenFileAndSavesIt) {
  const TFileCase& c = GetParam();
  if (!c.writable) ini = dir.File("missing/loader.ini");
  ports = {{"COM1", ""}};
  window::TMainWindow& w = Create();
  face.Clear();
  const std::string chosen = dir.File("new.hex");
  if (c.chosen) face.fileAnswers = {chosen};
  w.ASelectFileExecute();
  EXPECT_EQ(w.HexFileName(), c.chosen ? chosen : "");  // taken over even when the write fails
  EXPECT_EQ(face.Count("SetBeginEnabled 1"), c.chosen && c.writable ? 1 : 0);
  EXPECT_EQ(Ini(), c.chosen && c.writable ? "[FileName]\nName=" + chosen + "\n" : "");
  if (c.box == nullptr) {
    EXPECT_TRUE(face.boxes.empty());
  } else {
    ASSERT_EQ(face.boxes.size(), 1u);
    EXPECT_EQ(face.boxes[0].text, c.box + ini + ".");
    EXPECT_EQ(face.boxes[0].icon, TBoxIcon::Error);
  }
  if (!c.chosen) {
    EXPECT_EQ(face.log, std::vector<std::string>{"RunFileDialog"});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FileChoiceTest,
                         ::testing::Values(TFileCase{"Chosen", true, true, nullptr},
                                           TFileCase{"Cancelled", false, true, nullptr},
                                           TFileCase{"WriteFails", true, false,
                                                     "Unable to write to "}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowLogicTest, PortMenuIsSortedAndRebuiltWhenItDropsWithTheChosenPortChecked) {
  ports = {{"COM2", "two"}, {"COM10", "ten"}, {"com1", "one"}, {"A&B", "ab"}};
  Settings("COM2", HexFile());
  window::TMainWindow& w = Create();
  auto names = [&] {
    std::vector<std::string> list;
    for (const window::TPortItem& item : face.menu)
      list.push_back(item.name + (item.checked ? "*" : "") + "|" + item.description);
    return list;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"A&B|ab", "com1|one", "COM10|ten", "COM2|two"}));
  ports = {{"COM3", "three"}, {"COM2", "two"}};
  w.PortMenuDropping();
  EXPECT_EQ(names(), (std::vector<std::string>{"COM2*|two", "COM3|three"}));
}

TEST_F(WindowLogicTest, StartWithNoPortDoesNothing) {
  ports = {{"COM1", ""}};
  testsupport::WriteFile(ini, "[FileName]\nName=" + HexFile() + "\n");
  window::TMainWindow& w = Create();
  face.DeliverPosted();
  face.Clear();
  w.ABeginExecute();
  EXPECT_TRUE(face.log.empty());
  EXPECT_EQ(w.Engine().TransferState(), engine::tsIdle);
  EXPECT_FALSE(w.Engine().HasImage());
  EXPECT_FALSE(std::filesystem::exists(dir.File("fw.BIN")));
}

TEST_F(WindowLogicTest, ExitClosesTheWindow) {
  Create().AExitExecute();
  EXPECT_EQ(face.log.back(), "CloseWindow");
}

// ---- the error display --------------------------------------------------------------------------

struct TFullStopCase {
  const char* message;
  const char* shown;
};

class ErrorBoxTextTest : public ::testing::TestWithParam<TFullStopCase> {};

TEST_P(ErrorBoxTextTest, AppendsFullStopByLastByte) {
  EXPECT_EQ(app::ErrorBoxText(GetParam().message), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    LastByte, ErrorBoxTextTest,
    ::testing::Values(
        TFullStopCase{"Unable to write to x.ini", "Unable to write to x.ini."},
        TFullStopCase{"Specified device not found (COM7).", "Specified device not found (COM7)."},
        TFullStopCase{"Stopped!", "Stopped!"},        // '!' sorts below '.'
        TFullStopCase{"port (COM3)", "port (COM3)"},  // ')' too
        TFullStopCase{"dash-", "dash-"},              // '-' is 0x2D, just below
        TFullStopCase{"slash/", "slash/."},           // '/' is 0x2F, just above
        TFullStopCase{"ends in space ", "ends in space "},
        TFullStopCase{"Ошибка ответа", "Ошибка ответа."},  // UTF-8 bytes sort above '.'
        TFullStopCase{"", ""}));

TEST_F(WindowLogicTest, ErrorLeavingAHandlerIsShownAndTheRestSkipped) {
  struct {
    std::function<void()> fail;
    const char* shown;  // nullptr: nothing
  } const cases[] = {
      {[] { throw std::runtime_error("Cannot open file \"/x/y.BIN\". No such file"); },
       "Cannot open file \"/x/y.BIN\". No such file."},
      {[] { throw std::runtime_error("Specified device not found (COM7)."); },
       "Specified device not found (COM7)."},
      {[] { throw window::EAbort(); }, nullptr},
      {[] { throw 42; }, "Unknown error."},
  };
  window::TMainWindow& w = Create();
  for (const auto& c : cases) {
    face.Clear();
    bool after = false;
    w.RunHandler([&] {
      c.fail();
      after = true;
    });
    EXPECT_FALSE(after);
    ASSERT_EQ(face.boxes.size(), c.shown ? 1u : 0u);
    if (c.shown == nullptr) continue;
    EXPECT_EQ(face.boxes[0].text, c.shown);
    EXPECT_EQ(face.boxes[0].icon, TBoxIcon::Error);
  }
}

TEST(PortPaneWidth, OriginalWidthWhileTheNameFits) {
  for (auto [text, pane] : {std::pair{0, 47}, {39, 47}, {40, 48}, {120, 128}})
    EXPECT_EQ(window::TMainWindow::PortPaneWidth(text), pane) << text;
}

}  // namespace
