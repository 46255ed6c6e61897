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
#include <fstream>
#include <iterator>

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

struct RefusedCase {
  const char* name;
  const char* what;  // the system's text in the error
};

class RefusedHexFile : public TempDirTest, public ::testing::WithParamInterface<RefusedCase> {
 protected:
  // Makes in/app.hex the kind of thing the case names; returns its path.
  std::string Make(const std::string& kind) {
    const fs::path path = dir_ / "in" / "app.hex";
    if (kind == "Directory") {
      fs::create_directory(path);
    } else if (kind == "FifoWithoutWriter") {
      EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else if (kind == "Socket") {
      socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      EXPECT_LT(path.string().size(), sizeof(address.sun_path));
      std::strcpy(address.sun_path, path.c_str());
      EXPECT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    } else if (kind == "EndlessDevice") {
      fs::create_symlink("/dev/zero", path);
    } else if (kind == "LinkLoop") {
      fs::create_symlink(path.filename(), path);
    }
    return path.string();
  }
  ~RefusedHexFile() override {
    if (socket_ >= 0) ::close(socket_);
  }
  int socket_ = -1;
};

// Only regular files are read: a FIFO would block the open, a device could run for ever;
// a path that cannot be reached is no missing file either.
TEST_P(RefusedHexFile, NamedWithWhatItIs) {
  const std::string path = Make(GetParam().name);
  WriteFile("app.BIN", "old image");
  try {
    HexToBin(path);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.what(), "Cannot open file \"" + path + "\". " + GetParam().what);
  }
  EXPECT_EQ(ReadFile("app.BIN"), "old image");
  EXPECT_EQ(Entries(), (std::set<std::string>{"app.BIN", "in"}));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RefusedHexFile,
    ::testing::Values(RefusedCase{"Directory", "Is a directory"},
                      RefusedCase{"FifoWithoutWriter", "Is not a regular file"},
                      RefusedCase{"Socket", "Is not a regular file"},
                      RefusedCase{"EndlessDevice", "Is not a regular file"},
                      RefusedCase{"LinkLoop", "Too many levels of symbolic links"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HexToBinPosix, HexFileThatCannotBeOpened) {
  // A sysctl file without read permission is refused even to root.
  const std::string path = "/proc/sys/vm/drop_caches";
  if (!fs::is_regular_file(path)) GTEST_SKIP() << "no " << path;
  WriteFile("app.BIN", "old image");
  try {
    HexToBin(path);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), ("Cannot open file \"" + path + "\". Permission denied").c_str());
  }
  // Nothing renamed or created.
  EXPECT_EQ(ReadFile("app.BIN"), "old image");
  EXPECT_FALSE(fs::exists("app.BAK"));
}

TEST_F(HexToBinPosix, TextEndsAtFirstNulOrSizeAtOpen) {
  struct {
    const char* name;
    std::string path;
    std::string image;
  } const cases[] = {
      // 2 GiB of zeros after one record: read up to the first NUL only.
      {"SparseFile", PutHex(":0100000011EE\n", "sparse.hex"), "\x11"},
      // Its size says 0 but reading yields text, as a file that grows after it was
      // opened does: nothing beyond the size is read.
      {"SizeZeroYetText", "/proc/self/status", ""},
  };
  fs::resize_file(cases[0].path, std::uintmax_t{2} << 30);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = HexToBin(c.path);
    EXPECT_EQ(ReadFile(image), c.image);
  }
}

TEST_F(HexToBinPosix, ReaderOfEarlierImageKeepsItsBytes) {
  const std::string hexPath = PutHex(":0100000011EE\n");
  ASSERT_EQ(HexToBin(hexPath), "app.BIN");
  std::ifstream reader("app.BIN", std::ios::binary);
  PutHex(":020000002233A9\n");
  ASSERT_EQ(HexToBin(hexPath), "app.BIN");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), "\x11");
  EXPECT_EQ(ReadFile("app.BIN"), "\x22\x33");
  EXPECT_EQ(ReadFile("app.BAK"), "\x11");
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

TEST_F(HexToBinPosix, LinkNamedLikeImageIsReplacedNotWrittenThrough) {
  // With app.BAK taken the link is not renamed away; it must still not be followed.
  for (const char* target : {"target.BIN", "/dev/full"}) {
    SCOPED_TRACE(target);
    WriteFile("target.BIN", "target");
    WriteFile("app.BAK", "backup");
    fs::remove("app.BIN");
    fs::create_symlink(target, "app.BIN");
    EXPECT_EQ(HexToBin(PutHex(":0100000011EE\n")), "app.BIN");
    EXPECT_FALSE(fs::is_symlink("app.BIN"));
    EXPECT_EQ(ReadFile("app.BIN"), "\x11");
    EXPECT_EQ(ReadFile("target.BIN"), "target");
    EXPECT_EQ(ReadFile("app.BAK"), "backup");
  }
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
  EXPECT_EQ(Entries(), (std::set<std::string>{"in"}));  // neither image nor temporary file
}

}  // namespace
}  // namespace oh2b::test
