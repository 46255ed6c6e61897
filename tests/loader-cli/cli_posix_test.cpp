// loader-cli's handling of POSIX file-system refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <system_error>

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

}  // namespace
}  // namespace cli
