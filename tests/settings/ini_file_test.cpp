// The INI backend and the store over it, observed through reads and writes of real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ini_read_case.h"
#include "settings/ini_backends.h"
#include "settings/ui_reg_ini_file.h"
#include "test_support.h"

namespace settings {
namespace {

using testsupport::ReadFile;
using testsupport::TTempDir;
using testsupport::WriteFile;

TEST_P(IniReadTest, ReadsAsTheProfileFunctionsDo) {
  const ReadCase& c = GetParam();
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, c.file);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadText(c.section, c.key, c.fallback), c.expected);
}

const std::string kLoaderFile = "[PortName]\r\nName=COM3\r\n[FileName]\r\nName=C:\\fw\\a.hex\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadTest,
    ::testing::Values(
        ReadCase{"PortCrLf", kLoaderFile, "PortName", "Name", "COM1", "COM3"},
        ReadCase{"FileCrLf", kLoaderFile, "FileName", "Name", "", "C:\\fw\\a.hex"},
        ReadCase{"Lf", "[PortName]\nName=COM4\n", "PortName", "Name", "COM1", "COM4"},
        ReadCase{"Mixed", "[A]\r\nx=1\n[PortName]\nName=COM5\r\n", "PortName", "Name", "COM1",
                 "COM5"},
        ReadCase{"NoFinalLineEnd", "[PortName]\r\nName=COM6", "PortName", "Name", "COM1", "COM6"},
        ReadCase{"MissingKey", "[PortName]\r\nOther=COM3\r\n", "PortName", "Name", "COM1", "COM1"},
        ReadCase{"MissingSection", "[FileName]\r\nName=x\r\n", "PortName", "Name", "COM1", "COM1"},
        ReadCase{"EmptyFile", "", "PortName", "Name", "COM1", "COM1"},
        ReadCase{"EmptyValueIsNotTheFallback", "[FileName]\r\nName=\r\n", "FileName", "Name",
                 "fallback", ""},
        ReadCase{"SectionCase", "[portname]\r\nName=COM7\r\n", "PortName", "Name", "COM1", "COM7"},
        ReadCase{"KeyCase", "[PortName]\r\nNAME=COM8\r\n", "PortName", "name", "COM1", "COM8"},
        ReadCase{"Blanks", "  [ PortName ]  \r\n  Name  =  COM9  \r\n", "PortName", "Name", "COM1",
                 "COM9"},
        ReadCase{"Tabs", "[PortName]\r\n\tName\t=\tCOM9\t\r\n", "PortName", "Name", "COM1", "COM9"},
        ReadCase{"DoubleQuotes", "[S]\r\nk=\" a b \"\r\n", "S", "k", "", " a b "},
        ReadCase{"SingleQuotes", "[S]\r\nk='x'\r\n", "S", "k", "", "x"},
        ReadCase{"UnmatchedQuotes", "[S]\r\nk=\"x'\r\n", "S", "k", "", "\"x'"},
        ReadCase{"LoneQuote", "[S]\r\nk=\"\r\n", "S", "k", "", "\""},
        ReadCase{"EmptyQuotes", "[S]\r\nk=\"\"\r\n", "S", "k", "fb", ""},
        ReadCase{"EqualsInValue", "[S]\r\nk=a=b\r\n", "S", "k", "", "a=b"},
        ReadCase{"KeyOfOtherSection", "[A]\r\nName=1\r\n[B]\r\n", "B", "Name", "fb", "fb"},
        ReadCase{"FirstOfDuplicateKeys", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "", "1"},
        ReadCase{"FirstOfDuplicateSections", "[S]\r\nk=1\r\n[S]\r\nk=2\r\n", "S", "k", "", "1"},
        ReadCase{"ValueAt2047", "[S]\r\nk=" + std::string(2047, 'v') + "\r\n", "S", "k", "",
                 std::string(2047, 'v')},
        // Malformed files read alike on both systems.
        ReadCase{"CrOnly", "[A]\rx=1\r[PortName]\rName=COM3\r", "PortName", "Name", "COM1", "COM3"},
        ReadCase{"CrOnlyLastLine", "[PortName]\r\nName=COM4\r", "PortName", "Name", "COM1", "COM4"},
        ReadCase{"UnclosedHeaderIsNoSection", "[PortName\r\nName=COM3\r\n", "PortName", "Name",
                 "COM1", "COM1"},
        ReadCase{"UnclosedHeaderLeavesTheSection", "[PortName]\r\n[FileName\r\nName=COM3\r\n",
                 "PortName", "Name", "COM1", "COM3"},
        ReadCase{"NulEndsTheFile", std::string("[PortName]\r\n\0Name=COM3\r\n", 24), "PortName",
                 "Name", "COM1", "COM1"},
        ReadCase{"ValueOf3000CutTo2047",
                 "[S]\r\nk=" + std::string(2000, 'a') + std::string(1000, 'b') + "\r\n", "S", "k",
                 "", std::string(2000, 'a') + std::string(47, 'b')}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.label; });

struct KeysCase {
  const char* label;
  const char* file;
  const char* section;
  std::vector<std::string> keys;
};
// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const KeysCase& c, std::ostream* os) {
  *os << c.label;
}

class IniListKeysTest : public ::testing::TestWithParam<KeysCase> {};

TEST_P(IniListKeysTest, ListsTheSectionsKeysInFileOrder) {
  const KeysCase& c = GetParam();
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, c.file);
  TIniFile ini(path);
  std::vector<std::string> list = {"stale entry"};
  ini.ListKeys(c.section, list);
  EXPECT_EQ(list, c.keys);
  EXPECT_EQ(ini.SectionHasKeys(c.section), !c.keys.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniListKeysTest,
    ::testing::Values(
        KeysCase{"Order", "[S]\r\nzeta=1\r\nAlpha=2\r\nmid=\r\n", "S", {"zeta", "Alpha", "mid"}},
        KeysCase{"OnlyThisSection", "[A]\r\na=1\r\n[S]\r\ns=1\r\n[B]\r\nb=1\r\n", "S", {"s"}},
        KeysCase{"HeaderWithoutKeys", "[S]\r\n[T]\r\nt=1\r\n", "S", {}},
        KeysCase{"CommentsAndBlankLines", "[S]\r\n; note\r\n\r\nk = v\r\n", "S", {"k"}},
        KeysCase{"LineWithoutEquals", "[S]\r\njunk\r\n", "S", {}},
        KeysCase{"MissingSection", "[A]\r\na=1\r\n", "S", {}},
        KeysCase{"CaseInsensitiveSection", "[s]\r\nk=1\r\n", "S", {"k"}},
        KeysCase{"CrOnly", "[S]\ra=1\rb=2\r", "S", {"a", "b"}},
        KeysCase{"EmptyNameIsNoKey", "[S]\r\n=1\r\n", "S", {}},
        KeysCase{"EmptyNameEndsTheList", "[S]\r\na=1\r\n =2\r\nb=3\r\n", "S", {"a"}},
        KeysCase{"UnclosedHeaderIsNoSection", "[S\r\nk=1\r\n", "S", {}}),

    [](const ::testing::TestParamInfo<KeysCase>& info) { return info.param.label; });

TEST(IniFileTest, MissingFileGivesFallbacksAndIsNotCreatedByReads) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  TIniFile ini(path);
  EXPECT_FALSE(ini.SectionHasKeys("PortName"));
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM1");
  EXPECT_EQ(ini.ReadText("FileName", "Name", ""), "");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(IniFileTest, MissingFolderReadsLikeAMissingFile) {
  TTempDir dir;
  TIniFile ini(dir.File("no/such/folder/prog.ini"));
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM1");
  EXPECT_FALSE(ini.SectionHasKeys("PortName"));
}

TEST(IniFileTest, WriteCreatesFileSectionAndKey) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  TIniFile ini(path);
  ini.WriteText("PortName", "Name", "COM3");
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_TRUE(ini.SectionHasKeys("PortName"));
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM3");
  EXPECT_FALSE(ini.SectionHasKeys("FileName"));
}

TEST(IniFileTest, SecondWriteReplacesTheValue) {
  TTempDir dir;
  TIniFile ini(dir.File("prog.ini"));
  ini.WriteText("PortName", "Name", "COM3");
  ini.WriteText("PortName", "Name", "COM12");
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM12");
  std::vector<std::string> keys;
  ini.ListKeys("PortName", keys);
  EXPECT_EQ(keys, std::vector<std::string>{"Name"});
}

TEST(IniFileTest, WriteKeepsOtherSectionsAndKeys) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  WriteFile(path, "[Other]\r\na=1\r\n[PortName]\r\nName=COM3\r\nBaud=10400\r\n");
  TIniFile ini(path);
  ini.WriteText("portname", "Name", "COM4");
  ini.WriteText("FileName", "Name", "/fw/a.hex");
  ini.WriteText("PortName", "Parity", "none");
  EXPECT_EQ(ini.ReadText("Other", "a", ""), "1");
  EXPECT_EQ(ini.ReadText("PortName", "Name", ""), "COM4");
  EXPECT_EQ(ini.ReadText("PortName", "Baud", ""), "10400");
  EXPECT_EQ(ini.ReadText("PortName", "Parity", ""), "none");
  EXPECT_EQ(ini.ReadText("FileName", "Name", ""), "/fw/a.hex");
  std::vector<std::string> keys;
  ini.ListKeys("PortName", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"Name", "Baud", "Parity"}));
}

TEST(IniFileTest, LongValueIsStoredWholeAndReadBackCut) {
  TTempDir dir;
  const std::string path = dir.File("prog.ini");
  TIniFile ini(path);
  const std::string value = std::string(2047, 'x') + std::string(953, 'y');
  ini.WriteText("FileName", "Name", value);
  EXPECT_EQ(ini.ReadText("FileName", "Name", ""), std::string(2047, 'x'));
  EXPECT_NE(ReadFile(path).find(value), std::string::npos);
}

TEST(IniFileTest, EmptyValueIsWrittenAndReadAsEmpty) {
  TTempDir dir;
  TIniFile ini(dir.File("prog.ini"));
  ini.WriteText("FileName", "Name", "");
  EXPECT_TRUE(ini.SectionHasKeys("FileName"));
  EXPECT_EQ(ini.ReadText("FileName", "Name", "fallback"), "");
}

// A refused write raises "Unable to write to <file>" and can be tried again later.
class IniRefusedWriteTest : public ::testing::TestWithParam<const char*> {};

TEST_P(IniRefusedWriteTest, RaisesWithTheFileName) {
  TTempDir dir;
  WriteFile(dir.File("plain"), "not a folder");
  std::filesystem::create_directories(dir.Path() / "folder.ini" / "inside");
  const std::string path = dir.File(GetParam());
  TIniFile ini(path);
  try {
    ini.WriteText("PortName", "Name", "COM3");
    FAIL() << "write to " << path << " succeeded";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM1");
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "folder.ini" / "inside"));
}

INSTANTIATE_TEST_SUITE_P(Targets, IniRefusedWriteTest,
                         ::testing::Values("missing-folder/prog.ini", "plain/prog.ini",
                                           "folder.ini"));

TEST(UiRegIniFileTest, DefaultsAreIniFileNamedAfterTheExecutable) {
  TUiRegIniFile store;
  EXPECT_EQ(store.Path(), "");
  EXPECT_EQ(store.PathType(), ptIniFile);
  EXPECT_EQ(store.RegKey(), hkeyCurrentUser);
  EXPECT_EQ(store.RegAccess().Bits(), 0x0200);
  EXPECT_TRUE(store.Stale());
  EXPECT_EQ(store.ActiveBackend(), nullptr);
}

TEST(UiRegIniFileTest, FirstRunWithoutFileReadsNothingAndCreatesNothing) {
  TTempDir dir;
  const std::string path = dir.File("loader.ini");
  TUiRegIniFile store;
  store.SetPath(path);
  EXPECT_FALSE(store.SectionHasKeys("PortName"));
  EXPECT_FALSE(store.SectionHasKeys("FileName"));
  EXPECT_FALSE(store.Stale());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(UiRegIniFileTest, LoaderStartUpSequenceOnAnExistingFile) {
  TTempDir dir;
  const std::string path = dir.File("loader.ini");
  WriteFile(path, "[PortName]\r\nBaud=9600\r\n[FileName]\r\nName=\r\n");
  TUiRegIniFile store;
  store.SetPath(path);
  ASSERT_TRUE(store.SectionHasKeys("PortName"));
  EXPECT_EQ(store.ReadText("PortName", "Name", "COM1"), "COM1");
  ASSERT_TRUE(store.SectionHasKeys("FileName"));
  EXPECT_EQ(store.ReadText("FileName", "Name", "unused"), "");
}

TEST(UiRegIniFileTest, SamePathAgainKeepsTheBackend) {
  TTempDir dir;
  const std::string path = dir.File("a.ini");
  TUiRegIniFile store;
  store.SetPath(path);
  store.WriteText("PortName", "Name", "COM3");
  const TCustomIniFile* backend = store.ActiveBackend();
  ASSERT_NE(backend, nullptr);
  EXPECT_EQ(backend->FileName(), path);
  store.SetPath(std::string(path));
  store.SetPathType(ptIniFile);
  store.SetRegKey(hkeyCurrentUser);
  store.SetRegAccess({keyAllAccess});
  EXPECT_FALSE(store.Stale());
  EXPECT_EQ(store.ActiveBackend(), backend);
}

TEST(UiRegIniFileTest, EachDifferentPropertyMakesTheStoreStale) {
  TUiRegIniFile a, b, c, d;
  a.SetPath("x.ini");
  b.SetPathType(ptRegistry);
  c.SetRegKey(hkeyLocalMachine);
  d.SetRegAccess({keyRead});
  for (TUiRegIniFile* s : {&a, &b, &c, &d}) EXPECT_TRUE(s->Stale());
  EXPECT_EQ(a.Path(), "x.ini");
  EXPECT_EQ(b.PathType(), ptRegistry);
  EXPECT_EQ(c.RegKey(), hkeyLocalMachine);
  EXPECT_EQ(d.RegAccess(), TUiRegAccess({keyRead}));
}

TEST(UiRegIniFileTest, NewPathMovesLaterReadsAndWritesToTheNewFile) {
  TTempDir dir;
  const std::string first = dir.File("first.ini");
  const std::string second = dir.File("second.ini");
  TUiRegIniFile store;
  store.SetPath(first);
  store.WriteText("PortName", "Name", "COM3");
  store.SetPath(second);
  EXPECT_TRUE(store.Stale());
  EXPECT_FALSE(store.SectionHasKeys("PortName"));
  EXPECT_EQ(store.ActiveBackend()->FileName(), second);
  store.WriteText("PortName", "Name", "COM4");
  EXPECT_EQ(TIniFile(first).ReadText("PortName", "Name", ""), "COM3");
  EXPECT_EQ(TIniFile(second).ReadText("PortName", "Name", ""), "COM4");
  store.SetPath(first);
  EXPECT_EQ(store.ReadText("PortName", "Name", ""), "COM3");
}

TEST(UiRegIniFileTest, RefusedWriteKeepsTheBackendOpenForTheNextTry) {
  TTempDir dir;
  const std::string path = dir.File("later/loader.ini");
  TUiRegIniFile store;
  store.SetPath(path);
  EXPECT_THROW(store.WriteText("PortName", "Name", "COM3"), EIniFileException);
  EXPECT_FALSE(store.Stale());
  std::filesystem::create_directory(dir.Path() / "later");
  store.WriteText("PortName", "Name", "COM3");
  EXPECT_EQ(store.ReadText("PortName", "Name", "COM1"), "COM3");
}

}  // namespace
}  // namespace settings
