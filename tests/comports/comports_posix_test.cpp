// Port discovery against a fake sysfs tree, device folder and publication folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/comports.h"
#include "test_support.h"

namespace app {
namespace {

namespace fs = std::filesystem;

class FakeSystem : public ::testing::Test {
 protected:
  fs::path Path(const std::string& rel) const { return root_ / rel; }
  void Dir(const std::string& rel) { fs::create_directories(Path(rel)); }
  void File(const std::string& rel) {
    fs::create_directories(Path(rel).parent_path());
    std::ofstream(Path(rel)) << "x";
  }
  void Link(const std::string& rel, const std::string& target) {
    fs::create_directories(Path(rel).parent_path());
    fs::create_symlink(target, Path(rel));
  }

  // A sysfs tty entry: a folder (as the kernel's symlinked class entry resolves to) with an
  // optional device link.
  void Tty(const std::string& name, const std::string& deviceTarget) {
    Dir("sys/class/tty/" + name);
    if (!deviceTarget.empty()) Link("sys/class/tty/" + name + "/device", deviceTarget);
  }

  std::vector<std::string> Scan(const TUartProbe& probe) {
    auto names = EnumerateComPortsIn(Path("sys/class/tty").string(), Path("dev").string(),
                                     Path("run/loader-ports").string(), probe);
    SortPortNames(names);
    return names;
  }

  // The usual picture: one USB adapter, virtual consoles, four 8250 slots of which the
  // probe confirms some, a PNP-enumerated port, and devices without a node.
  void BuildMachine() {
    Dir("sys/devices/usb1/1-1:1.0/ttyUSB0");
    Dir("sys/devices/platform/serial8250");
    Dir("sys/bus/platform/drivers/serial8250");
    Link("sys/devices/platform/serial8250/driver", "../../bus/platform/drivers/serial8250");
    Dir("sys/devices/pnp0/00:05");
    Dir("sys/bus/pnp/drivers/serial");
    Link("sys/devices/pnp0/00:05/driver", "../../../bus/pnp/drivers/serial");
    Dir("sys/devices/usb1/1-2:1.0");

    Tty("ttyUSB0", Path("sys/devices/usb1/1-1:1.0").string());
    Tty("tty1", "");
    Tty("ptmx", "");
    for (int i = 0; i < 4; ++i)
      Tty("ttyS" + std::to_string(i), Path("sys/devices/platform/serial8250").string());
    Tty("ttyS4", Path("sys/devices/pnp0/00:05").string());
    Tty("ttyACM0", Path("sys/devices/usb1/1-2:1.0").string());  // no /dev node
    Tty("ttyUSB1", Path("sys/devices/usb1/gone").string());     // dangling device link

    for (const char* n :
         {"ttyUSB0", "tty1", "ptmx", "ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS4", "ttyUSB1"}) {
      File(std::string("dev/") + n);
    }
  }

  testsupport::TTempDir temp_{"comports"};
  const fs::path root_ = temp_.Path();
};

TEST_F(FakeSystem, ListsDevicesAndOnlyTheConfirmed8250Ports) {
  BuildMachine();
  std::set<std::string> probed;
  const auto probe = [&](const std::string& path) {
    probed.insert(fs::path(path).filename().string());
    EXPECT_EQ(fs::path(path).parent_path(), Path("dev"));
    return path.ends_with("ttyS0") || path.ends_with("ttyS2");
  };
  EXPECT_EQ(Scan(probe), (std::vector<std::string>{"ttyS0", "ttyS2", "ttyS4", "ttyUSB0"}));
  EXPECT_EQ(probed, (std::set<std::string>{"ttyS0", "ttyS1", "ttyS2", "ttyS3"}));
}

TEST_F(FakeSystem, Without8250ProbeNoSuchPortIsListed) {
  BuildMachine();
  EXPECT_EQ(Scan(nullptr), (std::vector<std::string>{"ttyS4", "ttyUSB0"}));
}

TEST_F(FakeSystem, Platform8250DeviceWithoutDriverLinkIsStillProbed) {
  Dir("sys/devices/platform/serial8250");
  Tty("ttyS0", Path("sys/devices/platform/serial8250").string());
  File("dev/ttyS0");
  EXPECT_EQ(Scan([](const std::string&) { return false; }), std::vector<std::string>{});
  EXPECT_EQ(Scan([](const std::string&) { return true; }), std::vector<std::string>{"ttyS0"});
}

TEST_F(FakeSystem, PortDeviceBelowThe8250PlatformDeviceIsProbed) {
  // Newer kernels: tty -> serial8250:0.N port device, bound to the generic "port" driver.
  Dir("sys/devices/platform/serial8250/serial8250:0/serial8250:0.0");
  Dir("sys/devices/platform/serial8250/serial8250:0/serial8250:0.1");
  Dir("sys/bus/serial-base/drivers/port");
  for (const char* n : {"0", "1"}) {
    Link(std::string("sys/devices/platform/serial8250/serial8250:0/serial8250:0.") + n + "/driver",
         Path("sys/bus/serial-base/drivers/port").string());
    Tty(std::string("ttyS") + n,
        Path(std::string("sys/devices/platform/serial8250/serial8250:0/serial8250:0.") + n)
            .string());
    File(std::string("dev/ttyS") + n);
  }
  // A firmware-declared port on the same generic driver needs no probe.
  Dir("sys/devices/pnp0/00:00/00:00:0/00:00:0.0");
  Link("sys/devices/pnp0/00:00/00:00:0/00:00:0.0/driver",
       Path("sys/bus/serial-base/drivers/port").string());
  Tty("ttyS4", Path("sys/devices/pnp0/00:00/00:00:0/00:00:0.0").string());
  File("dev/ttyS4");
  const auto probe = [](const std::string& path) { return path.ends_with("ttyS1"); };
  EXPECT_EQ(Scan(probe), (std::vector<std::string>{"ttyS1", "ttyS4"}));
}

TEST_F(FakeSystem, PublishedLinksWithLiveTargetsAreListed) {
  BuildMachine();
  File("pts/3");
  File("pts/4");
  Link("run/loader-ports/bootsim0", Path("pts/3").string());
  Link("run/loader-ports/bootsim1", Path("pts/9").string());  // simulator gone
  Link("run/loader-ports/bootsim2", Path("pts/4").string());
  Link("run/loader-ports/.bootsim3", Path("pts/4").string());  // being published
  Link("run/loader-ports/ttyUSB0", Path("pts/4").string());    // shadowed by /dev/ttyUSB0
  File("run/loader-ports/notes");
  EXPECT_EQ(Scan(nullptr), (std::vector<std::string>{"bootsim0", "bootsim2", "ttyS4", "ttyUSB0"}));
}

TEST_F(FakeSystem, MissingFoldersGiveAShorterOrEmptyList) {
  EXPECT_EQ(Scan(nullptr), std::vector<std::string>{});
  File("pts/1");
  Link("run/loader-ports/bootsim0", Path("pts/1").string());
  EXPECT_EQ(Scan(nullptr), std::vector<std::string>{"bootsim0"});
  EXPECT_EQ(EnumerateComPortsIn(Path("sys/class/tty").string(), Path("dev").string(), "", nullptr),
            std::vector<std::string>{});
}

TEST_F(FakeSystem, RootThatIsAFileGivesAnEmptyList) {
  File("sys/class/tty");
  File("run/loader-ports");
  EXPECT_EQ(Scan(nullptr), std::vector<std::string>{});
}

TEST_F(FakeSystem, ProbeRejectsWhatIsNoSerialPort) {
  File("plain");
  EXPECT_FALSE(ProbeUart(Path("plain").string()));
  EXPECT_FALSE(ProbeUart(Path("missing").string()));
  EXPECT_FALSE(ProbeUart("/dev/null"));
}

TEST_F(FakeSystem, EnumerateComPortsListsThePublicationFolderOfTheEnvironment) {
  File("pts/7");
  Link("ports/bootsim5", Path("pts/7").string());
  const char* old = getenv("LOADER_PORTS_DIR");
  const std::string saved = old ? old : "";
  setenv("LOADER_PORTS_DIR", Path("ports").c_str(), 1);
  const auto names = EnumerateComPorts();
  if (old) {
    setenv("LOADER_PORTS_DIR", saved.c_str(), 1);
  } else {
    unsetenv("LOADER_PORTS_DIR");
  }
  EXPECT_NE(std::find(names.begin(), names.end(), "bootsim5"), names.end());
  for (const auto& n : names) {
    EXPECT_FALSE(n.empty());
    EXPECT_EQ(n.find('/'), std::string::npos) << n;
  }
}

}  // namespace
}  // namespace app
