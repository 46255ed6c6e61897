#include "app/comports.h"
#include "cli_commands.h"

namespace cli {

int RunPorts(std::ostream& out) {
  std::vector<std::string> ports = app::EnumerateComPorts();
  app::SortPortNames(ports);
  for (const std::string& p : ports) out << p << '\n';
  return kExitOk;
}

}  // namespace cli
