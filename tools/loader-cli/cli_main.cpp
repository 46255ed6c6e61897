#include <cstdio>
#include <iostream>

#include "cli_commands.h"
#include "cli_platform.h"
#include "cli_usage.h"
#include "loader_version.h"

int main(int argc, char** argv) {
  const cli::TConsoleSession console;
  const std::vector<std::string> args = cli::CommandLineArguments(argc, argv);
  cli::TCommand command;
  try {
    command = cli::ParseCommandLine(args);
  } catch (const cli::EUsageError& e) {
    // The one line that matters, and the command's usage under it: not the whole help.
    std::cerr << "loader-cli: " << e.what() << '\n'
              << cli::UsageLines(args.empty() ? std::string() : args[0]);
    return cli::kExitUsage;
  }
  try {
    switch (command.kind) {
      case cli::TCommand::TKind::ckHelp:
        std::cout << cli::UsageText(command.helpTopic);
        return cli::kExitOk;
      case cli::TCommand::TKind::ckVersion:
        std::cout << "loader-cli " LOADER_VERSION "\n";
        return cli::kExitOk;
      case cli::TCommand::TKind::ckConvert:
        return cli::RunConvert(command, std::cout, std::cerr);
      case cli::TCommand::TKind::ckFlash:
        return cli::RunFlash(command, std::cout, std::cerr, cli::IsTerminal(stderr));
      case cli::TCommand::TKind::ckPorts:
        return cli::RunPorts(std::cout, std::cerr, command.longListing, command.json);
    }
  } catch (const std::exception& e) {
    std::cerr << "loader-cli: " << cli::ErrorText(e.what()) << '\n';
  }
  return cli::kExitFailure;
}
