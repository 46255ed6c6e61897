// Windows file sharing: the transfer engine holds the image it sends unshared.
#include <gtest/gtest.h>
#include <windows.h>

#include "hex_fixture.h"
#include "oh2b/oh2b.h"
#include "platform/file.h"

namespace oh2b::test {
namespace {

class HexToBinWin32 : public TempDirTest {};

TEST_F(HexToBinWin32, ImageHeldUnsharedIsNotReplaced) {
  const std::string hexPath = PutHex(":0100000011EE\n");
  WriteFile("app.BIN", "image being sent");
  const HANDLE held = ::CreateFileA("app.BIN", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  try {
    HexToBin(hexPath);
    ADD_FAILURE() << "no error";
  } catch (const EFCreateError& e) {
    const std::string prefix = "Cannot create file \"" + (dir_ / "app.BIN").string() + "\". ";
    const std::string what = e.what();
    EXPECT_TRUE(what == prefix + platform::SystemErrorText(ERROR_SHARING_VIOLATION) ||
                what == prefix + platform::SystemErrorText(ERROR_ACCESS_DENIED))
        << what;
  }
  ::CloseHandle(held);
  EXPECT_EQ(ReadFile("app.BIN"), "image being sent");
  EXPECT_EQ(Entries(), (std::set<std::string>{"app.BIN", "in"}));  // no backup, no temporary
}

}  // namespace
}  // namespace oh2b::test
