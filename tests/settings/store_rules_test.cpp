#include "settings/store_rules.h"

#include <gtest/gtest.h>

#include <ostream>

namespace settings {
namespace {

constexpr std::string_view kWindowsDelims = "\\:";
constexpr std::string_view kPosixDelims = "\\:/";

TEST(DefaultRegistryKeyNameTest, UsesTheTitleElseTheExecutablesBaseName) {
  EXPECT_EQ(DefaultRegistryKeyName("Загрузчик", "C:\\Tools\\prog.exe", kWindowsDelims),
            "\\Software\\Temp\\Загрузчик");
  EXPECT_EQ(DefaultRegistryKeyName("", "C:\\Tools.x\\prog.exe", kWindowsDelims),
            "\\Software\\Temp\\prog");
  EXPECT_EQ(DefaultRegistryKeyName("", "C:\\Tools.x\\prog", kWindowsDelims),
            "\\Software\\Temp\\prog");
  EXPECT_EQ(DefaultRegistryKeyName("", "/opt/loader-1.0/loader", kPosixDelims),
            "\\Software\\Temp\\loader");
}

TEST(KeyPathBelowRootTest, DropsOneLeadingBackslash) {
  EXPECT_EQ(KeyPathBelowRoot("\\Software\\Temp\\x"), "Software\\Temp\\x");
  EXPECT_EQ(KeyPathBelowRoot("Software\\x"), "Software\\x");
  EXPECT_EQ(KeyPathBelowRoot("\\\\a"), "\\a");
  EXPECT_EQ(KeyPathBelowRoot(""), "");
}

struct MaskCase {
  TUiRegAccess access;
  std::uint32_t mask;
};
// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const MaskCase& c, std::ostream* os) {
  *os << "set 0x" << std::hex << c.access.Bits();
}

class RegAccessMaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(RegAccessMaskTest, OrsTheAccessBitsOfEveryMember) {
  EXPECT_EQ(RegAccessMask(GetParam().access), GetParam().mask);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegAccessMaskTest,
    ::testing::Values(MaskCase{TUiRegAccess{}, 0x0}, MaskCase{{keyQueryValue}, 0x1},
                      MaskCase{{keySetValue}, 0x2}, MaskCase{{keyCreateSubKey}, 0x4},
                      MaskCase{{keyEnumerateSubKeys}, 0x8}, MaskCase{{keyNotify}, 0x10},
                      MaskCase{{keyCreateLink}, 0x20}, MaskCase{{keyRead}, 0x20019},
                      MaskCase{{keyWrite}, 0x20006}, MaskCase{{keyExecute}, 0x20019},
                      MaskCase{{keyAllAccess}, 0xF003F}, MaskCase{{keyRead, keyWrite}, 0x2001F},
                      MaskCase{{keyQueryValue, keyNotify, keyCreateLink}, 0x31},
                      // Bits above keyAllAccess name no member and add nothing.
                      MaskCase{TUiRegAccess::FromBits(0xFC00), 0x0},
                      MaskCase{TUiRegAccess::FromBits(0xFFFF), 0xF003F}));

TEST(TUiRegAccessTest, DefaultSetOfTheStoreIsAllAccessOnly) {
  EXPECT_EQ(TUiRegAccess({keyAllAccess}).Bits(), 0x0200);
  EXPECT_TRUE(TUiRegAccess({keyAllAccess}).Contains(keyAllAccess));
  EXPECT_FALSE(TUiRegAccess({keyAllAccess}).Contains(keyRead));
}

}  // namespace
// Portable use keeps the file beside the program; an installed program in a folder its user
// cannot write keeps it in the user's configuration folder.
TEST(IniPlacesTest, BesideTheProgramUnlessItsFolderIsClosed) {
  const auto posix = settings::IniPlaces("/usr/bin/loader", "/home/op/.config", "\\:/");
  EXPECT_EQ(posix.beside, "/usr/bin/loader.ini");
  EXPECT_EQ(posix.inUserDir, "/home/op/.config/loader/loader.ini");
  const auto windows = settings::IniPlaces("C:\\Program Files\\Loader\\loader.exe",
                                           "C:\\Users\\op\\AppData\\Roaming\\", "\\:/");
  EXPECT_EQ(windows.inUserDir, "C:\\Users\\op\\AppData\\Roaming\\loader\\loader.ini");

  struct TCase {
    bool exists, writable;
    const char* expected;
  };
  const TCase cases[] = {
      {true, false, "/usr/bin/loader.ini"},  // an existing file is used where it is
      {false, true, "/usr/bin/loader.ini"},  // a writable folder: portable use
      {true, true, "/usr/bin/loader.ini"},
      {false, false, "/home/op/.config/loader/loader.ini"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(settings::ChooseIniPath(posix, c.exists, c.writable), c.expected)
        << c.exists << c.writable;
  const auto noUserDir = settings::IniPlaces("/usr/bin/loader", "", "\\:/");
  EXPECT_EQ(settings::ChooseIniPath(noUserDir, false, false), "/usr/bin/loader.ini");
}

// A file beside the program that this user may not write (one made by `sudo loader`) is
// left alone; without a file, its folder decides.
TEST(IniPlacesTest, AnExistingFileBesideTheProgramOnlyWhenThisUserMayWriteIt) {
  const auto places = settings::IniPlaces("/usr/bin/loader", "/home/op/.config", "\\:/");
  EXPECT_EQ(settings::ChooseIniPath(places, true, true, false), places.inUserDir);
  EXPECT_EQ(settings::ChooseIniPath(places, true, false, true), places.beside);
  EXPECT_EQ(settings::ChooseIniPath(places, false, true, false), places.beside);
}

}  // namespace settings
