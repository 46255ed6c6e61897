// Failures that need the operating system's cooperation: texts of system errors,
// files that cannot be opened, created or written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "hex_fixture.h"
#include "oh2b/oh2b.h"

namespace oh2b::test {
namespace {

class HexToBinPosix : public TempDirTest {};

TEST_F(HexToBinPosix, NameAfterLastBackslashColonOrSlash) {
  struct {
    const char* hexName;  // one file name in the HEX folder, odd characters and all
    const char* imageName;
  } const cases[] = {
      {"C:\\fw\\app.hex", "app.BIN"},
      {"C:app.hex", "app.BIN"},
      {"a:b\\c.d:fw.old.hex", "fw.old.BIN"},
      {"dir.x\\noext", "noext.BIN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hexName);
    const std::string hexPath = PutHex(":0100000011EE\n", c.hexName);
    EXPECT_EQ(HexToBin(hexPath), c.imageName);
    EXPECT_EQ(ReadFile(c.imageName), "\x11");
  }
}

TEST_F(HexToBinPosix, HexFileThatCannotBeOpened) {
  // A socket exists and is no directory, but open() refuses it, even for root.
  const std::string path = (dir_ / "in" / "app.hex").string();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  WriteFile("app.BIN", "old image");
  try {
    HexToBin(path);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(),
                 ("Cannot open file \"" + path + "\". No such device or address").c_str());
  }
  ::close(fd);
  // Nothing renamed or created.
  EXPECT_EQ(ReadFile("app.BIN"), "old image");
  EXPECT_FALSE(fs::exists("app.BAK"));
}

TEST_F(HexToBinPosix, ImageThatCannotBeCreated) {
  fs::create_directory("app.BIN");
  try {
    HexToBin(PutHex(":0100000011EE\n"));
    ADD_FAILURE() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_STREQ(
        e.what(),
        ("Cannot create file \"" + (dir_ / "app.BIN").string() + "\". Is a directory").c_str());
  }
  EXPECT_FALSE(fs::exists("app.BAK"));  // a directory is no earlier image
}

TEST_F(HexToBinPosix, FailedRenameIsIgnored) {
  WriteFile("app.BIN", "old image");
  // The backup name is taken by a directory: the rename fails, and the earlier
  // image is overwritten.
  fs::create_directory("app.BAK");
  EXPECT_EQ(HexToBin(PutHex(":0100000011EE\n")), "app.BIN");
  EXPECT_EQ(ReadFile("app.BIN"), "\x11");
  EXPECT_TRUE(fs::is_directory("app.BAK"));
}

TEST_F(HexToBinPosix, WriteFailureOnFullDevice) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // With app.BAK taken the earlier image is not renamed, so the image is created
  // through the link, on a device that refuses every write.
  WriteFile("app.BAK", "backup");
  fs::create_symlink("/dev/full", "app.BIN");
  try {
    HexToBin(PutHex(":0100000011EE\n"));
    ADD_FAILURE() << "no error";
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), ("Cannot write file \"" + (dir_ / "app.BIN").string() +
                            "\". No space left on device")
                               .c_str());
  }
  EXPECT_EQ(ReadFile("app.BAK"), "backup");
}

// A file size limit makes the image's writes fail part way; the child process
// reports what it caught through its exit code and standard error.
void ConvertUnderFileSizeLimit(const std::string& hexPath, const std::string& expected) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, 4096};
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(2);
  try {
    HexToBin(hexPath);
  } catch (const EWriteError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::_Exit(e.what() == expected ? 0 : 3);
  } catch (...) {
    std::_Exit(4);
  }
  std::_Exit(5);
}

TEST_F(HexToBinPosix, WriteFailureStopsConversion) {
  // Forked without exec: the child works in this test's own directory.
  GTEST_FLAG_SET(death_test_style, "fast");
  // 64 KiB of fill and one byte: far more than the limit allows.
  const std::string hexPath = PutHex(":020000040001F9\n:0100000055AA\n");
  const std::string expected =
      "Cannot write file \"" + (dir_ / "app.BIN").string() + "\". File too large";
  EXPECT_EXIT(ConvertUnderFileSizeLimit(hexPath, expected), ::testing::ExitedWithCode(0),
              "File too large");
  EXPECT_LE(fs::file_size("app.BIN"), 4096u);
}

}  // namespace
}  // namespace oh2b::test
