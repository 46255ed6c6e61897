#include <algorithm>
#include <iterator>

#include "cli_commands.h"
#include "cli_messages.h"
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

std::string PortTable(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::size_t width = 0;
  for (const auto& [name, description] : rows) width = std::max(width, name.size());
  std::string text;
  for (const auto& [name, description] : rows) {
    text += name;
    if (!description.empty()) text += std::string(width - name.size() + 2, ' ') + description;
    text += '\n';
  }
  return text;
}

int RunPorts(std::ostream& out, std::ostream& err, bool longListing, bool json) {
  std::vector<std::pair<std::string, std::string>> rows;
  if (json || longListing) {
    std::vector<serial::TComPortInfo> ports = serial::EnumerateComPortInfo();
    std::ranges::stable_sort(ports, serial::PortNameLess, &serial::TComPortInfo::name);
    for (const serial::TComPortInfo& p : ports) rows.emplace_back(p.name, p.description);
  } else {
    std::vector<std::string> names = serial::EnumerateComPorts();
    serial::SortPortNames(names);
    for (std::string& name : names) rows.emplace_back(std::move(name), std::string());
  }
  return ListPorts(rows, out, err, json);
}

int ListPorts(const std::vector<std::pair<std::string, std::string>>& rows, std::ostream& out,
              std::ostream& err, bool json) {
  // An empty listing on standard output leaves scripts nothing to misread; the person
  // at the terminal is told why there is nothing.
  if (rows.empty()) err << kProgramPrefix << "no serial ports found" << std::endl;
  if (!json) {
    std::vector<std::pair<std::string, std::string>> fitting;
    std::ranges::copy_if(rows, std::back_inserter(fitting),
                         [](const auto& row) { return FitsOnALine(row.first); });
    out << PortTable(fitting);
    return kExitOk;
  }
  // One object a line, as flash --json reports, so scripts read both alike.
  for (const auto& [name, description] : rows) {
    out << "{\"port\":" << JsonString(name) << ",\"description\":" << JsonString(description)
        << "}\n";
  }
  return kExitOk;
}

}  // namespace cli
