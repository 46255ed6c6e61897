// Port discovery on Windows. Under Wine the prefix maps COM1 by default and registers it in
// the SERIALCOMM map, as a serial driver does; the script maps more ports and names them in
// LOADER_WINE_COM_PORTS (comma-separated) for this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "serial/port_info.h"

namespace serial {
namespace {

TEST(ComPortsWin32, ListsOnlyNamesLongerThanComThatStartWithIt) {
  for (const std::string& name : EnumerateComPorts()) {
    EXPECT_GT(name.size(), 3u) << name;
    EXPECT_EQ(name.rfind("COM", 0), 0u) << name;
  }
}

TEST(ComPortsWin32, ListsEachPortOnce) {
  std::vector<std::string> names = EnumerateComPorts();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

TEST(ComPortsWin32, ListsTheMappedPorts) {
  const char* expected = std::getenv("LOADER_WINE_COM_PORTS");
  if (!expected || !*expected) GTEST_SKIP() << "LOADER_WINE_COM_PORTS is not set";
  const std::vector<std::string> names = EnumerateComPorts();
  std::istringstream list(expected);
  for (std::string port; std::getline(list, port, ',');) {
    EXPECT_NE(std::find(names.begin(), names.end(), port), names.end()) << port;
  }
}

TEST(ComPortInfoWin32, SamePortsEachByDevicePathAndDriverDevice) {
  const std::vector<TComPortInfo> ports = EnumerateComPortInfo();
  EXPECT_EQ(PortNamesOf(ports), EnumerateComPorts());
  for (const TComPortInfo& p : ports) {
    const std::string path = "\\\\.\\" + p.name;
    EXPECT_TRUE(p.description == path || p.description.starts_with(path + " — \\Device\\"))
        << p.description;
  }
}

}  // namespace
}  // namespace serial
