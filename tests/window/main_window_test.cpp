// The main window's behaviour, whatever face draws it: start-up, the file choice, the port
// menu, the pending message and the error display.
#include <filesystem>
#include <stdexcept>

#include "recording_face.h"
#include "session/error_text.h"

namespace {

using windowtest::WindowLogicTest;
using Log = std::vector<std::string>;

const std::string kNoPortBox = std::string("ShowBox ") + window::kNoPortMessage;

struct TStartupCase {
  const char* name;
  const char* port;    // the PortName section's lines; nullptr: no section
  const char* file;    // the FileName section's lines ($HEX: an existing file); nullptr: none
  const char* device;  // DeviceName afterwards
  bool fileRestored;
};

class StartupTest : public WindowLogicTest, public ::testing::WithParamInterface<TStartupCase> {};

TEST_P(StartupTest, RestoresWhatIsThereAndPromptsForTheRest) {
  const TStartupCase& c = GetParam();
  ports = {{"COM1", "one"}, {"COM3", "three"}};
  std::string text = c.port ? "[PortName]\n" + std::string(c.port) : "";
  if (c.file) text += "[FileName]\n" + std::string(c.file);
  if (auto at = text.find("$HEX"); at != std::string::npos) text.replace(at, 4, HexFile());
  if (c.port || c.file) testsupport::WriteFile(ini, text);
  const std::string device = c.device;
  const bool portRestored = device != window::kUnchosenPort;

  window::TMainWindow& w = Create(true);
  EXPECT_EQ(w.SerComm1().DeviceName(), device);
  EXPECT_FALSE(w.SerComm1().IsOpen());  // opened only when chosen or started
  EXPECT_EQ(w.HexFileName(), c.fileRestored ? dir.File("fw.hex") : "");
  // Nothing is disabled: after a cancelled dialog ABegin stays as it was, enabled. Without a
  // saved file the dialog's loop shows the box over it, before the window is first shown.
  Log expected{portRestored ? "SetPortPane " + device + (device == "COM1" ? "|one" : "|three")
                            : "PostPendingMessage"};
  if (c.fileRestored) {
    expected.insert(expected.end(), {"SetBeginEnabled 1", "SetCaption fw.hex",
                                     "SetStatusText fw.hex|" + w.HexFileName()});
  } else {
    expected.push_back("RunFileDialog");
    if (!portRestored) expected.push_back(kNoPortBox + " over dialog");
    expected.insert(expected.end(), {"SetCaption ", "SetStatusText |"});
  }
  EXPECT_EQ(face.log, expected);
  EXPECT_EQ(testsupport::ReadFile(ini), text);  // the saved values stay until others are chosen

  // Otherwise the box waits for the application's loop.
  const bool waiting = !portRestored && c.fileRestored;
  EXPECT_EQ(w.PendingMessage(), waiting ? window::kNoPortMessage : "");
  face.log.clear();
  face.DeliverPosted();
  EXPECT_EQ(face.log, waiting ? Log{kNoPortBox} : Log{});
  EXPECT_EQ(w.PendingMessage(), "");
}

constexpr const char* kHex = "Name=$HEX\n";
INSTANTIATE_TEST_SUITE_P(
    Cases, StartupTest,
    ::testing::Values(TStartupCase{"NoSettings", nullptr, nullptr, "COM%d", false},
                      TStartupCase{"SavedPortAndFile", "Name=COM3\n", kHex, "COM3", true},
                      TStartupCase{"PortCaseDiffers", "Name=com3\n", kHex, "COM%d", true},
                      TStartupCase{"PortGone", "Name=COM7\n", kHex, "COM%d", true},
                      TStartupCase{"PortSectionMissing", nullptr, kHex, "COM%d", true},
                      TStartupCase{"PortSectionEmpty", "", kHex, "COM%d", true},
                      // A section without the key falls back to COM1, which is present.
                      TStartupCase{"PortKeyMissing", "Other=COM3\n", kHex, "COM1", true},
                      TStartupCase{"FileGone", "Name=COM3\n", "Name=/gone.hex\n", "COM3", false},
                      TStartupCase{"FileSectionEmpty", "Name=COM3\n", "", "COM3", false},
                      TStartupCase{"FileKeyMissing", "Name=COM3\n", "Other=$HEX\n", "COM3", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowLogicTest, CaptionIsSetOnceFromTheFileChosenAtStartUp) {
  face.fileAnswers = {dir.File("typed.hex"), dir.File("other.hex")};  // neither exists
  window::TMainWindow& w = Create(true);
  w.ASelectFileExecute();
  EXPECT_EQ(w.HexFileName(), dir.File("other.hex"));
  EXPECT_EQ(face.Calls("SetCaption"), 1);
  EXPECT_EQ(face.Count("SetCaption typed.hex"), 1);
}

struct TFileCase {
  const char* name;
  bool chosen;    // the dialog is confirmed
  bool writable;  // the settings file can be written
};

class FileChoiceTest : public WindowLogicTest, public ::testing::WithParamInterface<TFileCase> {};

TEST_P(FileChoiceTest, TakesTheChosenFileAndSavesIt) {
  const auto [name, chosen, writable] = GetParam();
  if (!writable) ini = dir.File("missing/loader.ini");
  window::TMainWindow& w = Create();
  const std::string file = dir.File("new.hex");
  if (chosen) face.fileAnswers = {file};
  w.ASelectFileExecute();
  // The file is taken over even when the write fails; ABegin is then not enabled.
  EXPECT_EQ(w.HexFileName(), chosen ? file : "");
  Log expected{"RunFileDialog"};
  if (chosen) expected.push_back("SetStatusText new.hex|" + file);
  expected.push_back(writable ? "SetBeginEnabled 1"
                              : "ShowBox error Unable to write to " + ini + ".");
  if (!chosen) expected.pop_back();
  EXPECT_EQ(face.log, expected);
  EXPECT_EQ(Ini(), chosen && writable ? "[FileName]\nName=" + file + "\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, FileChoiceTest,
                         ::testing::Values(TFileCase{"Chosen", true, true},
                                           TFileCase{"Cancelled", false, true},
                                           TFileCase{"WriteFails", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileArgumentTest, FirstNonOptionOrTheOneAfterTheEndOfOptions) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, ""},
      {{"fw.hex"}, "fw.hex"},
      {{"-style", "fw.hex", "b.hex"}, "fw.hex"},
      {{"--", "-fw.hex"}, "-fw.hex"},
      {{"--"}, ""},
      {{"", "fw.hex"}, "fw.hex"},
  };
  for (const auto& [args, file] : cases) EXPECT_EQ(window::FileArgument(args), file) << file;
}

// `loader FILE.hex`: the file is taken as the dialog would take it (full path, saved, its
// folder current), instead of the saved one and without the dialog.
TEST_F(WindowLogicTest, FileOnTheCommandLineIsTakenAsTheDialogWouldTakeIt) {
  std::filesystem::create_directories(dir.File("sub"));
  testsupport::WriteFile(ini, "[FileName]\nName=" + HexFile() + "\n");
  win = std::make_unique<window::TMainWindow>(
      face, sync, timer, window::TMainWindowOptions{ini, [this] { return ports; }, "sub/./a.hex"});
  face.window = win.get();
  win->FormCreate();
  const std::string full = (dir.Path() / "sub" / "a.hex").string();
  EXPECT_EQ(win->HexFileName(), full);  // taken though missing, as typed
  EXPECT_EQ(face.Count("RunFileDialog"), 0);
  EXPECT_EQ(face.Count("SetCaption a.hex"), 1);
  EXPECT_EQ(Ini(), "[FileName]\nName=" + full + "\n");
  EXPECT_EQ(std::filesystem::current_path(), dir.Path() / "sub");
  std::filesystem::current_path(dir.Path());
}

// A file dropped on the window is chosen; several files or a folder are not taken.
TEST_F(WindowLogicTest, OneDroppedFileIsChosen) {
  const std::string hex = HexFile();
  std::filesystem::create_directories(dir.File("folder"));
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{dir.File("folder")}, false},
      {{hex, hex}, false},
      {{}, false},
      {{hex}, true},
  };
  window::TMainWindow& w = Create();
  for (const auto& [paths, taken] : cases) {
    EXPECT_EQ(w.TakesDroppedFiles(paths), taken);
    w.FilesDropped(paths);
    EXPECT_EQ(w.HexFileName(), taken ? hex : "");
  }
  EXPECT_EQ(Ini(), "[FileName]\nName=" + hex + "\n");
}

TEST_F(WindowLogicTest, PortMenuIsSortedAndRebuiltWhenItDropsWithTheChosenPortChecked) {
  ports = {{"COM2", "two"}, {"COM10", "ten"}, {"com1", "one"}, {"A&B", "ab"}};
  testsupport::WriteFile(ini, "[PortName]\nName=COM2\n");
  auto items = [&] {
    Log list;
    for (const window::TPortItem& item : face.menu)
      list.push_back(item.name + (item.checked ? "*|" : "|") + item.description);
    return list;
  };
  window::TMainWindow& w = Create();
  EXPECT_EQ(items(), (Log{"A&B|ab", "com1|one", "COM10|ten", "COM2|two"}));
  ports = {{"COM3", "three"}, {"COM2", "two"}};
  w.PortMenuDropping();
  EXPECT_EQ(items(), (Log{"COM2*|two", "COM3|three"}));
}

// The message posted twice before the loop ran is shown once: the second delivery finds
// nothing pending and shows no empty box.
TEST_F(WindowLogicTest, PendingMessagePostedTwiceIsShownOnce) {
  testsupport::WriteFile(ini, "[FileName]\nName=" + HexFile() + "\n");
  window::TMainWindow& w = Create();
  w.AChangeComPortExecute();
  face.log.clear();
  face.DeliverPosted();
  EXPECT_EQ(face.log, Log{kNoPortBox});
}

TEST_F(WindowLogicTest, StartWithNoPortDoesNothing) {
  testsupport::WriteFile(ini, "[FileName]\nName=" + HexFile() + "\n");
  window::TMainWindow& w = Create();
  w.ABeginExecute();
  EXPECT_EQ(face.log, Log{});
  EXPECT_EQ(w.Engine().TransferState(), engine::tsIdle);
  EXPECT_FALSE(w.Engine().HasImage());
  EXPECT_FALSE(std::filesystem::exists(dir.File("fw.BIN")));
}

// ---- the error display --------------------------------------------------------------------------

class ErrorBoxTextTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(ErrorBoxTextTest, AppendsFullStopByLastByte) {
  EXPECT_EQ(session::ErrorBoxText(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    LastByte, ErrorBoxTextTest,
    ::testing::Values(std::pair{"Unable to write to x.ini", "Unable to write to x.ini."},
                      std::pair{"Specified device not found (COM7).",
                                "Specified device not found (COM7)."},
                      std::pair{"Stopped!", "Stopped!"},        // '!' sorts below '.'
                      std::pair{"port (COM3)", "port (COM3)"},  // ')' too
                      std::pair{"dash-", "dash-"},              // '-' is 0x2D, just below
                      std::pair{"slash/", "slash/."},           // '/' is 0x2F, just above
                      std::pair{"ends in space ", "ends in space "},
                      std::pair{"Ошибка ответа", "Ошибка ответа."},  // UTF-8 bytes sort above '.'
                      std::pair{"", ""}));

TEST_F(WindowLogicTest, ErrorLeavingAHandlerIsShownAndTheRestSkipped) {
  const std::pair<std::function<void()>, Log> cases[] = {
      {[] { throw std::runtime_error("Cannot open file \"/x/y.BIN\". No such file"); },
       {"ShowBox error Cannot open file \"/x/y.BIN\". No such file."}},
      {[] { throw window::EAbort(); }, {}},
      {[] { throw 42; }, {"ShowBox error Unknown error."}},
      // A transfer stopped by its line keeps the reason in the status line.
      {[] { throw engine::ELineFault("Искажение на линии COM3: эхо рукопожатия"); },
       {"SetStatusText Искажение на линии COM3: эхо рукопожатия|Искажение на линии COM3: эхо "
        "рукопожатия",
        "ShowBox error Искажение на линии COM3: эхо рукопожатия."}},
  };
  window::TMainWindow& w = Create();
  for (const auto& c : cases) {
    face.log.clear();
    w.RunHandler([&] {
      c.first();
      face.log.push_back("not skipped");
    });
    EXPECT_EQ(face.log, c.second);
  }
}

TEST(PortPaneWidth, OriginalWidthWhileTheNameFits) {
  for (auto [text, pane] : {std::pair{0, 47}, {39, 47}, {40, 48}, {120, 128}})
    EXPECT_EQ(window::TMainWindow::PortPaneWidth(text), pane) << text;
}

}  // namespace
