// loader-cli's handling of POSIX file-system refusals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <vector>

#include "cli_commands.h"

namespace cli {
namespace {

// A HEX path that cannot be reached is no missing file: the system's own reason is given.
TEST(Convert, UnreachableFileSaysWhy) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("cli-unit-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::create_symlink("loop.hex", dir / "loop.hex");
  const struct {
    fs::path file;
    int error;
  } cases[] = {{dir / "loop.hex", ELOOP},
               {dir / "loop.hex" / "fw.hex", ELOOP},
               {dir / (std::string(300, 'a') + ".hex"), ENAMETOOLONG}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TCommand command;
    command.kind = TCommand::TKind::Convert;
    command.file = c.file.string();
    std::ostringstream out, err;
    EXPECT_EQ(RunConvert(command, out, err), kExitFailure);
    EXPECT_NE(err.str().find(std::generic_category().message(c.error)), std::string::npos)
        << err.str();
  }
  fs::remove_all(dir);
}

// A published name holding a line end would read as two ports in a listing of one name a
// line: it is left out there, and listed escaped with --json.
TEST(Ports, NameWithALineEndDoesNotSplitTheListing) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("cli-ports-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::owner_all);
  std::vector<int> locks;
  for (const std::string name : {"simgood", "simbad\nfake"}) {
    fs::create_symlink("/dev/null", dir / name);
    const int fd = ::open((dir / (name + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // held: the name is live
    locks.push_back(fd);
  }
  ::setenv("LOADER_PORTS_DIR", dir.c_str(), 1);
  for (const bool longListing : {false, true}) {
    std::ostringstream out;
    ASSERT_EQ(RunPorts(out, longListing, false), kExitOk);
    EXPECT_NE(out.str().find("simgood"), std::string::npos);
    EXPECT_EQ(out.str().find("simbad"), std::string::npos) << out.str();
  }
  std::ostringstream json;
  RunPorts(json, false, true);
  EXPECT_NE(json.str().find(R"("port":"simbad\nfake")"), std::string::npos) << json.str();
  ::unsetenv("LOADER_PORTS_DIR");
  for (const int fd : locks) ::close(fd);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace cli
