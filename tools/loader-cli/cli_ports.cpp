#include <algorithm>

#include "cli_commands.h"
#include "serial/port_info.h"

namespace cli {

int RunPorts(std::ostream& out, bool longListing, bool json) {
  if (json) {
    // One object a line, as flash --json reports, so scripts read both alike.
    std::vector<serial::TComPortInfo> ports = serial::EnumerateComPortInfo();
    std::ranges::stable_sort(ports, serial::PortNameLess, &serial::TComPortInfo::name);
    for (const serial::TComPortInfo& p : ports)
      out << "{\"port\":" << JsonString(p.name) << ",\"description\":" << JsonString(p.description)
          << "}\n";
    return kExitOk;
  }
  if (!longListing) {
    std::vector<std::string> ports = serial::EnumerateComPorts();
    serial::SortPortNames(ports);
    for (const std::string& p : ports) out << p << '\n';
    return kExitOk;
  }
  std::vector<serial::TComPortInfo> ports = serial::EnumerateComPortInfo();
  std::ranges::stable_sort(ports, serial::PortNameLess, &serial::TComPortInfo::name);
  for (const serial::TComPortInfo& p : ports) out << p.name << '\t' << p.description << '\n';
  return kExitOk;
}

}  // namespace cli
