#include <algorithm>

#include "cli_commands.h"
#include "serial/port_info.h"

namespace cli {

namespace {

// The plain and long listings give one name a line: a name holding a line end or another
// control character cannot be written so (it would read as two ports) and is left out;
// --json lists it escaped. bootsim publishes no such name.
bool FitsOnALine(const std::string& name) {
  return std::ranges::none_of(
      name, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; });
}

}  // namespace

int RunPorts(std::ostream& out, bool longListing, bool json, std::ostream& err) {
  // An empty list alone would leave the operator wondering whether the command ran.
  const auto none = [&err](bool empty) {
    if (empty) err << "no serial ports found\n";
    return kExitOk;
  };
  if (json) {
    // One object a line, as flash --json reports, so scripts read both alike.
    std::vector<serial::TComPortInfo> ports = serial::EnumerateComPortInfo();
    std::ranges::stable_sort(ports, serial::PortNameLess, &serial::TComPortInfo::name);
    for (const serial::TComPortInfo& p : ports)
      out << "{\"port\":" << JsonString(p.name) << ",\"description\":" << JsonString(p.description)
          << "}\n";
    return none(ports.empty());
  }
  if (!longListing) {
    std::vector<std::string> ports = serial::EnumerateComPorts();
    serial::SortPortNames(ports);
    for (const std::string& p : ports) {
      if (FitsOnALine(p)) out << p << '\n';
    }
    return none(ports.empty());
  }
  std::vector<serial::TComPortInfo> ports = serial::EnumerateComPortInfo();
  std::ranges::stable_sort(ports, serial::PortNameLess, &serial::TComPortInfo::name);
  for (const serial::TComPortInfo& p : ports) {
    if (FitsOnALine(p.name)) out << p.name << '\t' << p.description << '\n';
  }
  return none(ports.empty());
}

}  // namespace cli
