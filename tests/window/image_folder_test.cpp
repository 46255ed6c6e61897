// Where a start converts: the current directory when it takes new files, else a private
// temporary folder that goes with the image.
#include "window/image_folder.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(ImageFolderTest, CurrentDirectoryWhenWritableElseAPrivateOneRemovedWithItsImage) {
  testsupport::TTempWorkDir work;
  testsupport::TTempDir temporary;
  EXPECT_TRUE(window::TImageFolder::Choose(temporary.Path()).Private().empty());
  // A kernel file system takes no new files, even from the superuser.
  std::error_code ec;
  fs::current_path("/proc", ec);
  if (ec || window::FolderTakesNewFiles("/proc")) GTEST_SKIP() << "no closed folder here";
  fs::path made;
  {
    window::TImageFolder folder = window::TImageFolder::Choose(temporary.Path());
    made = folder.Private();
    ASSERT_EQ(made.parent_path(), temporary.Path());
    const bool modes = fs::path::preferred_separator == '/';  // where folders have modes
    EXPECT_TRUE(!modes ||
                (fs::status(made).permissions() & fs::perms::all) == fs::perms::owner_all);
    testsupport::WriteFile(made / "fw.BIN", "image");
    const window::TImageFolder kept = std::move(folder);  // moved, it is removed once
    EXPECT_TRUE(fs::exists(made / "fw.BIN"));
  }
  EXPECT_TRUE(fs::is_empty(temporary.Path()));
  EXPECT_TRUE(fs::is_empty(work.Path()));  // no probe left
}

}  // namespace
