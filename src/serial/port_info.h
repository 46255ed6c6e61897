// Port discovery: the names of the serial ports present, as the serial component accepts
// them for its DeviceName.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace serial {

// The serial ports present, in the order found (the caller sorts). Never fails: whatever
// the system does not answer simply leaves names out.
std::vector<std::string> EnumerateComPorts();

// A port with a line saying what it is, for a tooltip or a long listing: the device path
// and, where the system tells, the adapter behind it.
struct TComPortInfo {
  std::string name;
  std::string description;
};

// The same ports as EnumerateComPorts, in the same order, each described.
std::vector<TComPortInfo> EnumerateComPortInfo();

// What a port's description adds about a USB adapter's latency timer of `ms` milliseconds
// (the time an FTDI chip holds received bytes before it sends them on): "" up to 2 ms,
// otherwise a note that says so and where to lower it. Every reply of the protocol waits
// for that timer.
inline std::string LatencyTimerNote(unsigned long ms) {
  if (ms <= 2) return "";
  return "latency timer " + std::to_string(ms) +
         " ms, slows every reply: set 1 ms in Device Manager (the port's Properties, Port "
         "Settings, Advanced, Latency Timer)";
}

// The names of described ports, in their order.
inline std::vector<std::string> PortNamesOf(const std::vector<TComPortInfo>& ports) {
  std::vector<std::string> names;
  names.reserve(ports.size());
  for (const TComPortInfo& p : ports) names.push_back(p.name);
  return names;
}

// The port menu's order: by characters, ignoring ASCII letter case, so "COM10" comes
// before "COM2".
inline bool PortNameLess(const std::string& a, const std::string& b) {
  const auto lower = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
  };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
    return lower(static_cast<unsigned char>(x)) < lower(static_cast<unsigned char>(y));
  });
}

// Sorts port names as the port menu shows them (PortNameLess); equal names keep their order.
inline void SortPortNames(std::vector<std::string>& names) {
  std::stable_sort(names.begin(), names.end(), PortNameLess);
}

// POSIX: answers whether the 8250-type port at a device path is really there.
using TUartProbe = std::function<bool(const std::string& devicePath)>;

// POSIX: the scan behind EnumerateComPorts with its folders given: terminals under
// `sysClassTty` that have a device behind them and a node in `devDir` (8250-type ports
// only when `probe` confirms them), then the ports published in `publishedDir` (only if
// that folder is private to this user) whose simulator still runs, whose link target
// exists and whose name is not taken by a node in `devDir`.
std::vector<std::string> EnumerateComPortsIn(const std::string& sysClassTty,
                                             const std::string& devDir,
                                             const std::string& publishedDir,
                                             const TUartProbe& probe);

// POSIX: the same scan, each port described: the device node's path, followed for a USB
// adapter by what its USB device folder in sysfs says (manufacturer, product, serial number,
// vendor:product ids); a published port says which terminal the simulator gives.
std::vector<TComPortInfo> EnumerateComPortInfoIn(const std::string& sysClassTty,
                                                 const std::string& devDir,
                                                 const std::string& publishedDir,
                                                 const TUartProbe& probe);

// POSIX: the probe EnumerateComPorts uses: opens the device without waiting for carrier
// and asks the driver for the port's UART type; an unknown type means no port.
bool ProbeUart(const std::string& devicePath);

}  // namespace serial
