#include <algorithm>

#include "app/comports.h"
#include "cli_commands.h"

namespace cli {

int RunPorts(std::ostream& out, bool longListing, bool json) {
  if (json) {
    // One object a line, as flash --json reports, so scripts read both alike.
    std::vector<app::TComPortInfo> ports = app::EnumerateComPortInfo();
    std::ranges::stable_sort(ports, app::PortNameLess, &app::TComPortInfo::name);
    for (const app::TComPortInfo& p : ports)
      out << "{\"port\":" << JsonString(p.name) << ",\"description\":" << JsonString(p.description)
          << "}\n";
    return kExitOk;
  }
  if (!longListing) {
    std::vector<std::string> ports = app::EnumerateComPorts();
    app::SortPortNames(ports);
    for (const std::string& p : ports) out << p << '\n';
    return kExitOk;
  }
  std::vector<app::TComPortInfo> ports = app::EnumerateComPortInfo();
  std::ranges::stable_sort(ports, app::PortNameLess, &app::TComPortInfo::name);
  for (const app::TComPortInfo& p : ports) out << p.name << '\t' << p.description << '\n';
  return kExitOk;
}

}  // namespace cli
