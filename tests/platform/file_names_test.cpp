#include "platform/file_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <utility>

#include "platform/hex_text.h"

namespace {

constexpr std::string_view kWindowsDelims = "\\:";
constexpr std::string_view kPosixDelims = platform::kPathDelimiters;

struct ExtCase {
  const char* name;
  std::string_view delims;
  const char* ext;
  const char* expected;
};
// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const ExtCase& c, std::ostream* os) {
  *os << c.name << " -> " << c.expected;
}

class ChangeExtensionTest : public ::testing::TestWithParam<ExtCase> {};

TEST_P(ChangeExtensionTest, ReplacesOnlyTheLastComponentsExtension) {
  const ExtCase& c = GetParam();
  EXPECT_EQ(platform::ChangeExtension(c.name, c.ext, c.delims), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangeExtensionTest,
    ::testing::Values(
        ExtCase{"C:\\Tools\\prog.exe", kWindowsDelims, ".ini", "C:\\Tools\\prog.ini"},
        ExtCase{"C:\\Tools\\prog", kWindowsDelims, ".ini", "C:\\Tools\\prog.ini"},
        ExtCase{"C:\\My.Tools\\prog", kWindowsDelims, ".ini", "C:\\My.Tools\\prog.ini"},
        ExtCase{"C:\\My.Tools\\prog.exe", kWindowsDelims, ".ini", "C:\\My.Tools\\prog.ini"},
        ExtCase{"C:prog", kWindowsDelims, ".ini", "C:prog.ini"},
        ExtCase{"a.b:c", kWindowsDelims, ".ini", "a.b:c.ini"},
        ExtCase{"prog.tar.gz", kWindowsDelims, ".ini", "prog.tar.ini"},
        ExtCase{"prog.", kWindowsDelims, ".ini", "prog.ini"},
        ExtCase{".hidden", kWindowsDelims, ".ini", ".ini"},
        ExtCase{"", kWindowsDelims, ".ini", ".ini"},
        ExtCase{"prog.exe", kWindowsDelims, "", "prog"},
        // A '/' ends a directory part only where it is a path delimiter.
        ExtCase{"/opt/loader/bin/loader", kPosixDelims, ".ini", "/opt/loader/bin/loader.ini"},
        ExtCase{"/opt/loader-1.0/loader", kPosixDelims, ".ini", "/opt/loader-1.0/loader.ini"},
        ExtCase{"/opt/loader-1.0/loader.bin", kPosixDelims, ".ini", "/opt/loader-1.0/loader.ini"},
        ExtCase{"/opt/loader-1.0/loader", kWindowsDelims, ".ini", "/opt/loader-1.ini"},
        ExtCase{"/opt/x\\y.z\\loader", kPosixDelims, ".ini", "/opt/x\\y.z\\loader.ini"},
        ExtCase{"/home/u/.local/loader", kPosixDelims, ".ini", "/home/u/.local/loader.ini"}));

TEST(FileNamePartTest, TakesThePartAfterTheLastDelimiter) {
  EXPECT_EQ(platform::FileNamePart("C:\\Tools\\prog.exe", kWindowsDelims), "prog.exe");
  EXPECT_EQ(platform::FileNamePart("C:prog.exe", kWindowsDelims), "prog.exe");
  EXPECT_EQ(platform::FileNamePart("/usr/bin/loader", kPosixDelims), "loader");
  EXPECT_EQ(platform::FileNamePart("loader", kPosixDelims), "loader");
  EXPECT_EQ(platform::FileNamePart("/usr/bin/", kPosixDelims), "");
}

}  // namespace

TEST(HexText, AtLeastTheDigitsAskedForAndNeverCut) {
  const std::pair<std::pair<std::uint64_t, int>, const char*> cases[] = {
      {{0, 2}, "0x00"},
      {{0x5A, 2}, "0x5A"},
      {{0x180, 4}, "0x0180"},
      {{0x12345, 4}, "0x12345"},
      {{0xFFFFFFFF, 8}, "0xFFFFFFFF"},
      {{~0ull, 2}, "0xFFFFFFFFFFFFFFFF"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(platform::HexText(in.first, in.second), want);
}
