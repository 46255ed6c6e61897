#include <cstdio>
#include <iostream>

#include "cli_commands.h"
#include "cli_platform.h"
#include "loader_version.h"

int main(int argc, char** argv) {
  cli::TCommand command;
  try {
    command = cli::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const cli::EUsageError& e) {
    std::cerr << "loader-cli: " << e.what() << "\n" << cli::UsageText();
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
        return cli::RunPorts(std::cout, command.longListing, command.json);
    }
  } catch (const std::exception& e) {
    std::cerr << cli::ErrorText(e.what()) << '\n';
  }
  return cli::kExitFailure;
}
