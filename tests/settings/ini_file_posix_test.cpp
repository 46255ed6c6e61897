// The POSIX INI writer's exact output, its atomic replacement of the file, the
// executable-derived name and the missing registry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "ini_read_case.h"
#include "settings/ini_backends.h"
#include "settings/platform.h"
#include "settings/ui_reg_ini_file.h"
#include "test_support.h"

namespace settings {
namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TTempDir;
using testsupport::WriteFile;

INSTANTIATE_TEST_SUITE_P(
    OwnReader, IniReadTest,
    ::testing::Values(ReadCase{"KeyBeforeAnySection", "Name=1\r\n[B]\r\n", "B", "Name", "fb", "fb"},
                      ReadCase{"SemicolonComment", "[S]\r\n;Name=1\r\n", "S", "Name", "fb", "fb"},
                      ReadCase{"HashComment", "[S]\r\n# Name=1\r\n", "S", "Name", "fb", "fb"},
                      ReadCase{"Utf8Bom", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "", "v"},
                      ReadCase{"HeaderTextAfterBracket", "[S] ; note\r\nk=v\r\n", "S", "k", "",
                               "v"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.label; });

TEST(IniPosixTest, FallbackLongerThanTheReadLimitIsCut) {
  TTempDir dir;
  TIniFile ini(dir.File("prog.ini"));
  EXPECT_EQ(ini.ReadText("S", "k", std::string(3000, 'f')), std::string(2047, 'f'));
}

TEST(IniPosixTest, DuplicateKeyIsListedOnce) {
  TTempDir dir;
  WriteFile(dir.File("prog.ini"), "[S]\r\nk=1\r\nK=2\r\nj=3\r\n");
  std::vector<std::string> keys;
  TIniFile(dir.File("prog.ini")).ListKeys("s", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"k", "j"}));
}

struct WriteCase {
  const char* label;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};
// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << c.label;
}

class IniWriteBytesTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWriteBytesTest, RewritesTheFileAsExpected) {
  const WriteCase& c = GetParam();
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  if (c.label != std::string("NewFile")) WriteFile(path, c.before);
  TIniFile ini(path);
  ini.WriteText(c.section, c.key, c.value);
  EXPECT_EQ(ReadFile(path), c.after);
  EXPECT_EQ(ini.ReadText(c.section, c.key, "fallback"), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteBytesTest,
    ::testing::Values(
        WriteCase{"NewFile", "", "PortName", "Name", "COM3", "[PortName]\r\nName=COM3\r\n"},
        WriteCase{"EmptyFile", "", "PortName", "Name", "COM3", "[PortName]\r\nName=COM3\r\n"},
        WriteCase{"NewSectionsGoAtTheEnd", "[PortName]\r\nName=COM3\r\n", "FileName", "Name",
                  "/fw/a.hex", "[PortName]\r\nName=COM3\r\n[FileName]\r\nName=/fw/a.hex\r\n"},
        WriteCase{"ReplaceKeepsEverythingElse",
                  "; loader settings\n[PortName]\n; chosen port\nName=COM3\nBaud = 10400\n"
                  "[FileName]\r\nName=a.hex\r\n",
                  "PortName", "Name", "COM4",
                  "; loader settings\r\n[PortName]\r\n; chosen port\r\nName=COM4\r\n"
                  "Baud = 10400\r\n[FileName]\r\nName=a.hex\r\n"},
        WriteCase{"ReplaceUsesTheWrittenSpelling", "[portname]\r\n  NAME = COM3  \r\n", "PortName",
                  "Name", "COM4", "[portname]\r\nName=COM4\r\n"},
        WriteCase{"NewKeyAfterTheSectionsLastKey",
                  "[PortName]\r\nBaud=1\r\n; tail\r\n\r\n[FileName]\r\nName=x\r\n", "PortName",
                  "Name", "COM3",
                  "[PortName]\r\nBaud=1\r\nName=COM3\r\n; tail\r\n\r\n[FileName]\r\nName=x\r\n"},
        WriteCase{"NewKeyUnderAnEmptyHeader", "[PortName]\r\n[FileName]\r\nName=x\r\n", "PortName",
                  "Name", "COM3", "[PortName]\r\nName=COM3\r\n[FileName]\r\nName=x\r\n"},
        // A key with an empty name ends the key list: a key written goes before it, so that
        // the section still lists it (a stale copy behind it stays, read second).
        WriteCase{"NewKeyBeforeAnUnnamedOne", "[PortName]\r\nBaud=1\r\n=x\r\nName=COM1\r\n",
                  "PortName", "Name", "COM3",
                  "[PortName]\r\nBaud=1\r\nName=COM3\r\n=x\r\nName=COM1\r\n"},
        WriteCase{"MissingFinalLineEnd", "[A]\r\na=1", "B", "b", "2",
                  "[A]\r\na=1\r\n[B]\r\nb=2\r\n"},
        WriteCase{"OnlyTheFirstOfDuplicateSections", "[S]\r\nk=1\r\n[S]\r\nk=2\r\n", "S", "k", "3",
                  "[S]\r\nk=3\r\n[S]\r\nk=2\r\n"},
        WriteCase{"BomIsKept", "\xEF\xBB\xBF[S]\nk=1\n", "S", "k", "2",
                  "\xEF\xBB\xBF[S]\r\nk=2\r\n"},
        WriteCase{"EmptyValue", "[FileName]\r\nName=a\r\n", "FileName", "Name", "",
                  "[FileName]\r\nName=\r\n"},
        WriteCase{"Cp1251TextUnchanged", "", "FileName", "Name", "C:\\\xC7\xE0\xE3\\a.hex",
                  "[FileName]\r\nName=C:\\\xC7\xE0\xE3\\a.hex\r\n"},
        // Values that would not read back as written are stored inside quotes.
        WriteCase{"TrailingBlankQuoted", "", "FileName", "Name", "/fw/a.hex ",
                  "[FileName]\r\nName=\"/fw/a.hex \"\r\n"},
        WriteCase{"QuotedValueQuotedAgain", "", "S", "k", "'x'", "[S]\r\nk=\"'x'\"\r\n"},
        WriteCase{"InnerQuotesUnchanged", "", "S", "k", "a \"b\" c", "[S]\r\nk=a \"b\" c\r\n"}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.label; });

// Text that cannot be stored in an INI line is refused rather than written into the file,
// where it would change other entries or the file's structure.
struct RefusedCase {
  const char* label;
  std::string section, key, value;
};
// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << c.label;
}

class IniUnstorableTextTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(IniUnstorableTextTest, RefusesAndKeepsTheFile) {
  const RefusedCase& c = GetParam();
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  const std::string before = "[PortName]\nName=COM3\n";
  WriteFile(path, before);
  TIniFile ini(path);
  EXPECT_THROW(ini.WriteText(c.section, c.key, c.value), EIniFileException);
  EXPECT_EQ(ReadFile(path), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniUnstorableTextTest,
    ::testing::Values(RefusedCase{"NewlineInValue", "FileName", "Name", "/tmp/a\n[PortName]"},
                      RefusedCase{"CarriageReturnInValue", "FileName", "Name", "a\rb"},
                      RefusedCase{"NulInValue", "FileName", "Name", std::string("a\0b", 3)},
                      RefusedCase{"NewlineInKey", "S", "a\nb", "v"},
                      RefusedCase{"EqualsInKey", "S", "a=b", "v"},
                      RefusedCase{"CommentKey", "S", ";a", "v"},
                      RefusedCase{"EmptyKey", "S", "  ", "v"},
                      RefusedCase{"BracketInSection", "a]b", "k", "v"},
                      RefusedCase{"EmptySection", "", "k", "v"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.label; });

std::vector<std::string> FolderEntries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A write that fails half-way (here: the file size limit stops the temporary file) leaves
// the old file as it was and no temporary file behind.
TEST(IniPosixTest, WriteFailingHalfWayKeepsTheOldFileIntact) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  const std::string before = "[PortName]\r\nName=COM3\r\n";
  WriteFile(path, before);
  TIniFile ini(path);

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 64;
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    ini.WriteText("FileName", "Name", std::string(500, 'x'));
  } catch (const EIniFileException& e) {
    threw = std::string(e.what()) == "Unable to write to " + path;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"prog.ini"});
  ini.WriteText("FileName", "Name", std::string(500, 'x'));
  EXPECT_EQ(ini.ReadText("PortName", "Name", ""), "COM3");
}

TEST(IniPosixTest, WriteLeavesNoTemporaryFileAndKeepsTheMode) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, "[PortName]\r\nName=COM3\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  TIniFile ini(path);
  ini.WriteText("PortName", "Name", "COM4");
  ini.WriteText("FileName", "Name", "a.hex");
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"prog.ini"});
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniPosixTest, WriteThroughALinkUpdatesItsTargetAndKeepsTheLink) {
  TTempDir dir;
  const std::string target = dir.File("real.ini");
  const std::string link = dir.File("prog.ini");
  WriteFile(target, "[A]\r\na=1\r\n");
  fs::create_symlink("real.ini", link);
  TIniFile ini(link);
  ini.WriteText("PortName", "Name", "COM3");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "[A]\r\na=1\r\n[PortName]\r\nName=COM3\r\n");
}

TEST(IniPosixTest, WriteThroughADanglingLinkCreatesItsTarget) {
  TTempDir dir;
  fs::create_directory(dir.Path() / "conf");
  fs::create_symlink("conf/real.ini", dir.Path() / "prog.ini");
  TIniFile ini(dir.File("prog.ini"));
  ini.WriteText("PortName", "Name", "COM3");
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "prog.ini"));
  EXPECT_EQ(ReadFile(dir.File("conf/real.ini")), "[PortName]\r\nName=COM3\r\n");
}

TEST(IniPosixTest, LinkLoopIsRefused) {
  TTempDir dir;
  fs::create_symlink("b.ini", dir.Path() / "a.ini");
  fs::create_symlink("a.ini", dir.Path() / "b.ini");
  TIniFile ini(dir.File("a.ini"));
  EXPECT_THROW(ini.WriteText("PortName", "Name", "COM3"), EIniFileException);
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM1");
}

// A file its owner made read-only is not replaced behind its mode, not even by the superuser.
TEST(IniPosixTest, ReadOnlyFileIsNotReplaced) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, "[A]\r\na=1\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  TIniFile ini(path);
  try {
    ini.WriteText("PortName", "Name", "COM3");
    ADD_FAILURE() << "no error";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_EQ(ReadFile(path), "[A]\r\na=1\r\n");
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"prog.ini"});
}

TEST(IniPosixTest, UnreadableExistingFileIsNotOverwritten) {
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the superuser";
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, "[A]\r\na=1\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0200), 0);
  TIniFile ini(path);
  EXPECT_THROW(ini.WriteText("PortName", "Name", "COM3"), EIniFileException);
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(path), "[A]\r\na=1\r\n");
}

// A settings file beside the program is this user's to write when it is his own (even made
// read-only by him) or the system lets him, and its folder lets it be replaced.
TEST(IniPosixTest, FileWritableByOwnerOrPermissionWhereItsFolderAllowsTheRename) {
  EXPECT_FALSE(FileWritable("/nonexistent/loader.ini"));
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the superuser";
  EXPECT_FALSE(FileWritable("/etc/passwd"));  // another user's
  TTempDir dir;
  const std::string file = dir.File("loader.ini");
  WriteFile(file, "[PortName]\r\n");
  for (const auto& [fileMode, folderMode, expected] :
       {std::tuple{0644, 0755, true}, {0444, 0755, true}, {0644, 0555, false}}) {
    ::chmod(file.c_str(), fileMode);
    ::chmod(dir.Path().c_str(), folderMode);
    EXPECT_EQ(FileWritable(file), expected) << fileMode << " " << folderMode;
  }
  ::chmod(dir.Path().c_str(), 0755);
}

TEST(IniPosixTest, ExecutablePathIsThisTestProgram) {
  const std::string exe = ExecutablePath();
  EXPECT_TRUE(fs::path(exe).is_absolute());
  EXPECT_EQ(fs::path(exe).filename(), "settings_test");
}

TEST(IniPosixTest, DefaultPathIsBesideTheExecutableWithIniExtension) {
  TUiRegIniFile store;
  // A read only: it must not create the file next to the test program.
  store.ReadText("PortName", "Name", "COM1");
  ASSERT_NE(store.ActiveBackend(), nullptr);
  EXPECT_EQ(store.ActiveBackend()->FileName(), ExecutablePath() + ".ini");
}

TEST(IniPosixTest, RegistryIsRefusedClearlyAndTheStoreRecovers) {
  TTempDir dir;
  const std::string path = dir.File("loader.ini");
  TUiRegIniFile store;
  store.SetPath(path);
  store.WriteText("PortName", "Name", "COM3");
  store.SetPathType(ptRegistry);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      store.ReadText("PortName", "Name", "COM1");
      FAIL() << "the registry backend was built";
    } catch (const ERegistryException& e) {
      EXPECT_EQ(std::string(e.what()), "The registry is not available on this platform");
    }
    EXPECT_TRUE(store.Stale());
  }
  EXPECT_THROW(store.SectionHasKeys("PortName"), ERegistryException);
  EXPECT_THROW(store.WriteText("PortName", "Name", "COM4"), ERegistryException);
  store.SetPathType(ptIniFile);
  EXPECT_EQ(store.ReadText("PortName", "Name", "COM1"), "COM3");
  EXPECT_FALSE(store.Stale());
}

TEST(IniPosixTest, LongFileNameStillGetsItsTemporaryFile) {
  TTempDir dir;
  const std::string path = dir.File(std::string(240, 'n') + ".ini");
  TIniFile ini(path);
  ini.WriteText("PortName", "Name", "COM3");
  EXPECT_EQ(ReadFile(path), "[PortName]\r\nName=COM3\r\n");
  EXPECT_EQ(FolderEntries(dir.Path()).size(), 1u);
}

// Whatever stands under the settings file's name but is not a regular file reads as no
// settings at all (the window must start, so nothing may block: a FIFO without a writer
// would wait forever in open) and is refused by a write, which leaves it as it was.
struct NotAFileCase {
  const char* label;
  void (*make)(const std::string& path);
};

class IniNotAFileTest : public ::testing::TestWithParam<NotAFileCase> {};

TEST_P(IniNotAFileTest, ReadsAsNoSettingsAndIsNotWritten) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  GetParam().make(path);
  const fs::file_status before = fs::status(path);
  TIniFile ini(path);
  EXPECT_FALSE(ini.SectionHasKeys("PortName"));
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM1");
  try {
    ini.WriteText("PortName", "Name", "COM3");
    ADD_FAILURE() << "the write went through";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_EQ(fs::status(path).type(), before.type());
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"prog.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniNotAFileTest,
    ::testing::Values(
        NotAFileCase{"Fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        NotAFileCase{"Folder", [](const std::string& p) { fs::create_directory(p); }},
        NotAFileCase{"LinkToAnEndlessDevice",
                     [](const std::string& p) { fs::create_symlink("/dev/zero", p); }}),
    [](const ::testing::TestParamInfo<NotAFileCase>& info) { return info.param.label; });

// A NUL byte ends what the store reads; a write would lose what follows it, so it is refused.
TEST(IniPosixTest, ReadingStopsAtTheFirstNulAndAWriteKeepsTheFile) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  const std::string before("[S]\r\nk=v\r\n\0j=w\r\n", 15);
  WriteFile(path, before);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadText("S", "k", "fb"), "v");
  EXPECT_EQ(ini.ReadText("S", "j", "fb"), "fb");
  std::vector<std::string> keys;
  ini.ListKeys("S", keys);
  EXPECT_EQ(keys, std::vector<std::string>{"k"});
  EXPECT_THROW(ini.WriteText("S", "k", "x"), EIniFileException);
  EXPECT_EQ(ReadFile(path), before);
}

// What an interrupted write, or someone else, left under the temporary file's name is
// removed by the next write and never written through.
struct LeftOverCase {
  const char* label;
  void (*make)(const fs::path& temp, const fs::path& victim);
};

class IniLeftOverTempTest : public ::testing::TestWithParam<LeftOverCase> {};

TEST_P(IniLeftOverTempTest, NextWriteReplacesIt) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, "[A]\r\na=1\r\n");
  WriteFile(dir.File("victim"), "mine");
  GetParam().make(dir.Path() / ".prog.ini.tmp", dir.Path() / "victim");
  TIniFile ini(path);
  ini.WriteText("PortName", "Name", "COM3");
  EXPECT_EQ(ReadFile(path), "[A]\r\na=1\r\n[PortName]\r\nName=COM3\r\n");
  EXPECT_EQ(ReadFile(dir.File("victim")), "mine");
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"prog.ini", "victim"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniLeftOverTempTest,
    ::testing::Values(
        LeftOverCase{"HalfWrittenFile",
                     [](const fs::path& t, const fs::path&) { WriteFile(t, "[PortName]\r\nNa"); }},
        LeftOverCase{"LinkToAnotherFile",
                     [](const fs::path& t, const fs::path& v) { fs::create_symlink(v, t); }},
        LeftOverCase{"HardLinkToAnotherFile",
                     [](const fs::path& t, const fs::path& v) { fs::create_hard_link(v, t); }},
        LeftOverCase{"Fifo", [](const fs::path& t,
                                const fs::path&) { ASSERT_EQ(mkfifo(t.c_str(), 0600), 0); }}),
    [](const ::testing::TestParamInfo<LeftOverCase>& info) { return info.param.label; });

// A temporary file that another writer holds locked is its write in progress: this write
// gives up rather than take it over, and leaves both files alone.
TEST(IniPosixTest, WriteInProgressElsewhereIsNotDisturbed) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, "[A]\r\na=1\r\n");
  const std::string temp = dir.File(".prog.ini.tmp");
  WriteFile(temp, "[A]");
  const int other = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  EXPECT_THROW(TIniFile(path).WriteText("PortName", "Name", "COM3"), EIniFileException);
  close(other);
  EXPECT_EQ(ReadFile(path), "[A]\r\na=1\r\n");
  EXPECT_EQ(ReadFile(temp), "[A]");
}

}  // namespace
}  // namespace settings
