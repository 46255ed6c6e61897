// Where a start converts: the current directory when it takes new files, else a private
// temporary folder that goes with the image.
#include "window/image_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct TFolderCase {
  const char* name;
  bool currentWritable;
};

class ImageFolderTest : public ::testing::TestWithParam<TFolderCase> {};

// A folder that takes no new files even from the superuser: a kernel file system.
const fs::path kClosedFolder = "/proc";

TEST_P(ImageFolderTest, CurrentDirectoryWhenWritableElseAPrivateOneRemovedWithItsImage) {
  const TFolderCase& c = GetParam();
  testsupport::TTempWorkDir work;
  testsupport::TTempDir temporary;
  if (!c.currentWritable) {
    std::error_code ec;
    fs::current_path(kClosedFolder, ec);
    if (ec || window::FolderTakesNewFiles(kClosedFolder)) GTEST_SKIP() << "no closed folder here";
  }
  fs::path made;
  {
    window::TImageFolder folder = window::TImageFolder::Choose(temporary.Path());
    made = folder.Private();
    EXPECT_EQ(made.empty(), c.currentWritable);
    if (!made.empty()) {
      EXPECT_EQ(made.parent_path(), temporary.Path());
      EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all);
      testsupport::WriteFile(made / "fw.BIN", "image");
      window::TImageFolder kept = std::move(folder);  // moved, it is removed once
      EXPECT_TRUE(fs::exists(made / "fw.BIN"));
    }
  }
  EXPECT_FALSE(!made.empty() && fs::exists(made));
  EXPECT_TRUE(fs::is_empty(work.Path()));  // no probe left
  EXPECT_TRUE(fs::is_empty(temporary.Path()));
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageFolderTest,
                         ::testing::Values(TFolderCase{"Writable", true},
                                           TFolderCase{"Closed", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
