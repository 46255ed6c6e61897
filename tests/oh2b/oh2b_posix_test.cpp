// Failures that need the operating system's cooperation: texts of system errors,
// files that cannot be opened, created or written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

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

TEST_F(HexToBinPosix, HexFromPipeOfUnknownLength) {
  // A pipe has no size to read at once; its text arrives in pieces of any length.
  const fs::path fifo = dir_ / "in" / "app.hex";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string hex;
  std::string expected;
  for (std::uint32_t at = 0; at < (2u << 20); at += 16) {
    if (at % 0x10000 == 0) {
      hex += HexRecord(0, 4, {0, static_cast<std::uint8_t>(at >> 16)}) + "\n";
    }
    std::vector<std::uint8_t> data(16);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(at / 16 + i);
    hex += HexRecord(at & 0xFFFF, 0, data) + "\n";
    expected.append(data.begin(), data.end());
  }
  ASSERT_GT(hex.size(), 4u << 20);  // more than the first guesses of the read buffer
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    for (std::size_t done = 0; done < hex.size();) {
      const ssize_t n =
          ::write(fd, hex.data() + done, std::min<std::size_t>(hex.size() - done, 70000));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
  EXPECT_EQ(HexToBin(fifo.string()), "app.BIN");
  writer.join();
  EXPECT_EQ(ReadFile("app.BIN"), expected);
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
