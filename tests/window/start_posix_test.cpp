// Старт, the prompt and Выход against a pseudo-terminal standing in for the device's port:
// what is sent, asked or refused before anything reaches the line.
#include <cstdlib>
#include <filesystem>

#include "platform/file.h"
#include "recording_face.h"
#include "test_pty.h"
#include "window/window_look.h"

namespace {

using windowtest::WindowLogicTest;
using Log = std::vector<std::string>;

class StartTest : public WindowLogicTest {
 protected:
  testsupport::TTestPty pty;

  void TearDown() override { win.reset(); }

  // The window with the pseudo-terminal chosen and `hex` as its file.
  window::TMainWindow& CreateWith(const std::string& hex) {
    testsupport::WriteFile("fw.hex", hex);
    ports = {{pty.SlavePath(), "pty"}};
    testsupport::WriteFile(ini, "[PortName]\nName=" + pty.SlavePath() +
                                    "\n[FileName]\nName=" + dir.File("fw.hex") + "\n");
    return Create();
  }
  bool Asked() const { return face.Calls("AskQuestion") > 0; }
};

struct TStartCase {
  const char* name;
  std::string hex;
  std::optional<bool> answer;  // the question's answer; nothing: no question expected
  const char* box;             // the error box, or ""
  bool waits;                  // the engine waits for the device, the prompt shown
};

class StartCaseTest : public StartTest, public ::testing::WithParamInterface<TStartCase> {};

TEST_P(StartCaseTest, SendsOnlyWhatIsGoodOrAgreedTo) {
  const TStartCase& c = GetParam();
  window::TMainWindow& w = CreateWith(c.hex);
  if (c.answer) face.questionAnswers = {*c.answer};
  w.ABeginExecute();
  EXPECT_EQ(Asked(), c.answer.has_value());
  if (c.answer) {
    EXPECT_EQ(face.Count("AskQuestion Файл \"" + dir.File("fw.hex") +
                         "\", строка 2: контрольная сумма записи 0xDD, а по её байтам 0xDC.\n" +
                         window::kFindingQuestion),
              1);
  }
  EXPECT_EQ(face.Calls("ShowBox"), *c.box ? 1 : 0);
  if (*c.box) {
    EXPECT_EQ(face.Count(std::string("ShowBox error ") + c.box + dir.File("fw.hex") +
                         "\" не содержит записей данных: загружать нечего."),
              1);
  }
  EXPECT_EQ(face.Count("SetPromptVisible 1"), c.waits ? 1 : 0);
  EXPECT_EQ(w.Engine().TransferState(), c.waits ? engine::tsAwaitDevice : engine::tsIdle);
  EXPECT_EQ(w.Engine().HasImage(), c.waits);
}

const std::string kEnd = ":00000001FF\n";
INSTANTIATE_TEST_SUITE_P(
    Cases, StartCaseTest,
    ::testing::Values(
        TStartCase{"Sound", ":0100000011EE\n" + kEnd, std::nullopt, "", true},
        TStartCase{"NoData",
                   "\x7F"
                   "ELF",
                   std::nullopt, "Файл \"", false},
        TStartCase{"OnlyEndRecord", kEnd, std::nullopt, "Файл \"", false},
        TStartCase{"BadSumRefused", ":0100000011EE\n:0100010022DD\n" + kEnd, false, "", false},
        TStartCase{"BadSumAgreed", ":0100000011EE\n:0100010022DD\n" + kEnd, true, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

// Closing the prompt ends the wait: idle, controls back, the image let go; a device that
// answers then finds nothing waiting. A second close changes nothing.
TEST_F(StartTest, ClosingThePromptEndsTheWait) {
  window::TMainWindow& w = CreateWith(":0100000011EE\n" + kEnd);
  w.ABeginExecute();
  ASSERT_EQ(w.Engine().TransferState(), engine::tsAwaitDevice);
  face.log.clear();
  w.PromptClosed();
  EXPECT_EQ(w.Engine().TransferState(), engine::tsIdle);
  EXPECT_FALSE(w.Engine().HasImage());
  EXPECT_EQ(face.Count("SetTransferControlsEnabled 1"), 1);
  EXPECT_EQ(face.Count("SetPromptVisible 0"), 1);
  face.log.clear();
  w.PromptClosed();
  EXPECT_EQ(face.log, Log{});
}

// Idle or waiting for the device, nothing has been written: Выход closes without a question.
TEST_F(StartTest, ExitOutsideATransferAsksNothing) {
  window::TMainWindow& w = CreateWith(":0100000011EE\n" + kEnd);
  for (const bool waiting : {false, true}) {
    if (waiting) w.ABeginExecute();
    face.log.clear();
    EXPECT_TRUE(w.CloseQuery());
    w.AExitExecute();
    EXPECT_EQ(face.log, Log{"CloseWindow"});
  }
}

// A chosen file's identity is learnt in a folder closed to others, which is gone afterwards;
// nothing is written beside the file or into the current directory, which stays the same.
TEST_F(WindowLogicTest, IdentityAtChoiceLeavesNothingBehind) {
  const std::string tmp = dir.File("tmp");
  std::filesystem::create_directory(tmp);
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TMPDIR", tmp.c_str(), 1);
  const std::string folder = platform::MakePrivateFolder();
  EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  std::filesystem::remove(folder);
  const std::filesystem::path cwd = std::filesystem::current_path();
  face.fileAnswers = {HexFile()};
  Create(true);
  if (old != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_GE(face.Count(ReadyStatus()), 1);
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
  EXPECT_EQ(std::filesystem::current_path(), cwd);
  EXPECT_FALSE(std::filesystem::exists(dir.File("fw.BIN")));
}

TEST_F(WindowLogicTest, NoPortAtAllIsSaidInTheMenu) {
  Create();
  ASSERT_EQ(face.menu.size(), 1u);
  EXPECT_EQ(face.menu[0].name, window::kNoPortsItem);
  EXPECT_FALSE(face.menu[0].enabled);
}

}  // namespace
