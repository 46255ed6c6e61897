#include "platform/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "test_support.h"

namespace {

using platform::ReadWholeFile;
using platform::TWholeFile;

// The text ends at the first NUL byte, also when that lies past the first piece read.
TEST(ReadWholeFile, TextEndsAtFirstNul) {
  const std::size_t piece = std::size_t{1} << 20;
  struct {
    const char* name;
    std::string bytes;
    std::size_t textLength;
    bool cutAtNul;
  } const cases[] = {
      {"Empty", "", 0, false},
      {"NoNul", "[a]\r\nk=v\r\n", 10, false},
      {"NulFirst", std::string(3, '\0'), 0, true},
      {"NulInside", std::string("k=v\0rest", 8), 3, true},
      {"NulInSecondPiece", std::string(piece, 'x') + '\0' + "y", piece, true},
  };
  testsupport::TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::WriteFile(dir.File(c.name), c.bytes);
    TWholeFile whole;
    ASSERT_EQ(ReadWholeFile(dir.File(c.name), whole), 0u);
    EXPECT_EQ(whole.text, std::string_view(c.bytes).substr(0, c.textLength));
    EXPECT_EQ(whole.cutAtNul, c.cutAtNul);
  }
}

TEST(ReadWholeFile, NoRegularFileIsRefused) {
  testsupport::TTempDir dir;
  std::filesystem::create_directory(dir.Path() / "folder");
  TWholeFile whole;
  EXPECT_EQ(ReadWholeFile(dir.File("missing"), whole), platform::NotFoundError());
  EXPECT_EQ(ReadWholeFile(dir.File("folder"), whole), platform::kIsDirectory);
  EXPECT_EQ(platform::SystemErrorText(platform::kIsDirectory), "Is a directory");
}

// What is appended while the file is read lies beyond its size at open; the hook before
// each piece can also end the read.
TEST(ReadWholeFile, ReadsTheSizeAtOpenAndStopsWhenTheHookThrows) {
  testsupport::TTempDir dir;
  const std::string path = dir.File("growing");
  testsupport::WriteFile(path, "k=v");
  TWholeFile whole;
  const auto append = [&] { std::ofstream(path, std::ios::app) << "more"; };
  ASSERT_EQ(ReadWholeFile(path, whole, append), 0u);
  EXPECT_EQ(whole.text, "k=v");
  EXPECT_THROW(ReadWholeFile(path, whole, [] { throw std::runtime_error("stop"); }),
               std::runtime_error);
}

// A replacement either puts the whole new text in place or leaves the file as it was;
// either way no temporary file stays beside it.
TEST(ReplaceFileContents, ReplacesWholeOrLeavesTheFileAsItWas) {
  namespace fs = std::filesystem;
  struct {
    const char* name;
    void (*make)(const fs::path& path);  // what stands under the name before
    bool refused;
    std::string after;  // the file's text afterwards ("" for a folder)
  } const cases[] = {
      {"New", [](const fs::path&) {}, false, "new"},
      {"Replaced", [](const fs::path& p) { testsupport::WriteFile(p, "old text"); }, false, "new"},
      {"LeftOverTemporary",
       [](const fs::path& p) {
         testsupport::WriteFile(p, "old");
         testsupport::WriteFile(p.parent_path() / ("." + p.filename().string() + ".tmp"), "[h");
       },
       false, "new"},
      {"ReadOnly",
       [](const fs::path& p) {
         testsupport::WriteFile(p, "old");
         fs::permissions(p, fs::perms::owner_write, fs::perm_options::remove);
       },
       true, "old"},
      {"Folder", [](const fs::path& p) { fs::create_directory(p); }, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TTempDir dir;
    const fs::path path = dir.Path() / "prog.ini";
    c.make(path);
    const platform::TErrorCode error = platform::ReplaceFileContents(path.string(), "new");
    EXPECT_EQ(error != 0, c.refused) << platform::SystemErrorText(error);
    if (!c.after.empty()) {
      EXPECT_EQ(testsupport::ReadFile(path), c.after);
    }
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 1u);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  }
}

// The system's message cut to a length is a prefix of the whole one and never ends in a
// blank or a full stop, wherever the cut falls.
TEST(SystemMessage, CutToAtMostTheLengthAndTrimmed) {
  const std::string whole = platform::SystemMessage(platform::NotFoundError());
  ASSERT_FALSE(whole.empty());
  EXPECT_NE(whole.back(), '.');
  for (const std::size_t max : {std::size_t{0}, std::size_t{1}, std::size_t{6}, std::size_t{7},
                                std::size_t{8}, whole.size(), std::size_t{256}}) {
    SCOPED_TRACE(max);
    const std::string cut = platform::SystemMessage(platform::NotFoundError(), max);
    EXPECT_LE(cut.size(), max);
    EXPECT_EQ(whole.compare(0, cut.size(), cut), 0);
    EXPECT_TRUE(cut.empty() || (cut.back() != ' ' && cut.back() != '.'));
  }
  EXPECT_EQ(platform::SystemErrorText(platform::NotFoundError()), whole);
}

}  // namespace

namespace {

// Each call a folder of its own, and empty.
TEST(MakePrivateFolder, FreshAndEmpty) {
  const std::string first = platform::MakePrivateFolder();
  const std::string second = platform::MakePrivateFolder();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  for (const std::string& folder : {first, second}) {
    const std::filesystem::path path(std::u8string(folder.begin(), folder.end()));
    EXPECT_TRUE(std::filesystem::is_empty(path)) << folder;
    std::filesystem::remove_all(path);
  }
}

}  // namespace
