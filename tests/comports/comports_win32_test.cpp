// Port descriptions on Windows: under Wine the prefix maps COM1 and registers it in the
// SERIALCOMM map, as a serial driver does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/comports.h"

namespace app {
namespace {

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
}  // namespace app
