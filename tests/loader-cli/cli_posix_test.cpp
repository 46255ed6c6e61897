// loader-cli against POSIX file-system refusals and published names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <system_error>

#include "cli_commands.h"
#include "test_pty.h"
#include "test_support.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

struct TempFolder {
  fs::path path = fs::temp_directory_path() / ("cli-posix-" + std::to_string(::getpid()));
  TempFolder() { fs::create_directories(path); }
  ~TempFolder() { fs::remove_all(path); }
};

// A HEX path that cannot be reached is no missing file: the system's own reason is given.
TEST(Convert, UnreachableFileSaysWhy) {
  TempFolder dir;
  fs::create_symlink("loop.hex", dir.path / "loop.hex");
  const std::pair<fs::path, int> cases[] = {
      {dir.path / "loop.hex", ELOOP},
      {dir.path / "loop.hex" / "fw.hex", ELOOP},
      {dir.path / (std::string(300, 'a') + ".hex"), ENAMETOOLONG}};
  for (const auto& [file, error] : cases) {
    TCommand command;
    command.file = file.string();
    std::ostringstream out, err;
    EXPECT_EQ(RunConvert(command, out, err), kExitFailure);
    EXPECT_NE(err.str().find(std::generic_category().message(error)), std::string::npos)
        << err.str();
  }
}

// A port named by a relative path is found from the folder loader-cli was started in: the
// image's private folder is handed to the converter, never made the current directory.
TEST(Flash, RelativePortPathIsFoundFromTheStartingFolder) {
  testsupport::TTestPty pty;
  testsupport::TTempWorkDir dir;
  fs::create_symlink(pty.SlavePath(), "mydev");
  testsupport::WriteFile("fw.hex", ":0100000011EE\n:00000001FF\n");
  TCommand command;
  command.file = "fw.hex";
  command.ports = {"./mydev"};
  command.timeout = std::chrono::seconds(1);
  std::ostringstream out, err;
  // Opened: the device's silence ends it, not a port that cannot be found.
  EXPECT_EQ(RunFlash(command, out, err, false), kExitTimeout) << err.str();
  EXPECT_EQ(fs::current_path(), dir.Path());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

// A published name holding a line end would read as two ports in a listing of one name a
// line: it is left out there, and listed escaped with --json.
TEST(Ports, NameWithALineEndDoesNotSplitTheListing) {
  TempFolder dir;
  fs::permissions(dir.path, fs::perms::owner_all);
  for (const std::string name : {"simgood", "simbad\nfake"}) {
    fs::create_symlink("/dev/null", dir.path / name);
    const int fd =
        ::open((dir.path / (name + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // held until the process ends: the name is live
  }
  ::setenv("LOADER_PORTS_DIR", dir.path.c_str(), 1);
  std::ostringstream plain, longListing, json, err;
  RunPorts(plain, err, false, false);
  RunPorts(longListing, err, true, false);
  RunPorts(json, err, false, true);
  ::unsetenv("LOADER_PORTS_DIR");
  EXPECT_NE(plain.str().find("simgood\n"), std::string::npos);
  EXPECT_EQ((plain.str() + longListing.str()).find("simbad"), std::string::npos);
  EXPECT_NE(json.str().find(R"("port":"simbad\nfake")"), std::string::npos) << json.str();
}

}  // namespace
}  // namespace cli
