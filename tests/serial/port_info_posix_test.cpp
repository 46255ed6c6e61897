// Port discovery against a fake sysfs tree, device folder and publication folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "serial/port_info.h"
#include "serial/port_names.h"
#include "test_support.h"

namespace serial {
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
  void Attr(const std::string& rel, const std::string& text) {
    fs::create_directories(Path(rel).parent_path());
    std::ofstream(Path(rel)) << text;
  }
  void Link(const std::string& rel, const std::string& target) {
    fs::create_directories(Path(rel).parent_path());
    fs::create_symlink(target, Path(rel));
  }

  // A port as a running simulator publishes it: the link to `target` (below the root) in a
  // private folder, and its lock file held locked for as long as the test runs.
  void Publish(const std::string& rel, const std::string& target) {
    Link(rel, Path(target).string());
    const fs::path dir = Path(rel).parent_path();
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    const std::string lock = PublishedLockPath(dir.string(), Path(rel).filename().string());
    const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << lock;
    locks_.push_back(fd);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << lock;
  }
  void TearDown() override {
    for (int fd : locks_) close(fd);
  }

  // A sysfs tty entry: a folder (as the kernel's symlinked class entry resolves to) with an
  // optional link to `device` (below the root).
  void Tty(const std::string& name, const std::string& device = "") {
    Dir("sys/class/tty/" + name);
    if (!device.empty()) Link("sys/class/tty/" + name + "/device", Path(device).string());
  }
  // A port with its /dev node, whose tty entry leads to the device folder `device`.
  void Node(const std::string& name, const std::string& device) {
    Dir(device);
    Tty(name, device);
    File("dev/" + name);
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

    Node("ttyUSB0", "sys/devices/usb1/1-1:1.0");
    Tty("tty1");
    Tty("ptmx");
    for (int i = 0; i < 4; ++i) Node("ttyS" + std::to_string(i), "sys/devices/platform/serial8250");
    Node("ttyS4", "sys/devices/pnp0/00:05");
    Tty("ttyACM0", "sys/devices/usb1/1-2:1.0");  // no /dev node
    Tty("ttyUSB1", "sys/devices/usb1/gone");     // dangling device link
    for (const char* n : {"tty1", "ptmx", "ttyUSB1"}) File(std::string("dev/") + n);
  }

  testsupport::TTempDir temp_{"comports"};
  const fs::path root_ = temp_.Path();
  std::vector<int> locks_;
};

// Points the publication folder of the environment somewhere else for one scope.
class TPortsDirEnv {
 public:
  explicit TPortsDirEnv(const fs::path& dir) {
    if (const char* old = getenv("LOADER_PORTS_DIR")) saved_ = old;
    setenv("LOADER_PORTS_DIR", dir.c_str(), 1);
  }
  ~TPortsDirEnv() {
    if (saved_) {
      setenv("LOADER_PORTS_DIR", saved_->c_str(), 1);
    } else {
      unsetenv("LOADER_PORTS_DIR");
    }
  }
  TPortsDirEnv(const TPortsDirEnv&) = delete;
  TPortsDirEnv& operator=(const TPortsDirEnv&) = delete;

 private:
  std::optional<std::string> saved_;
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
  Node("ttyS0", "sys/devices/platform/serial8250");
  EXPECT_EQ(Scan([](const std::string&) { return false; }), std::vector<std::string>{});
  EXPECT_EQ(Scan([](const std::string&) { return true; }), std::vector<std::string>{"ttyS0"});
}

TEST_F(FakeSystem, PortDeviceBelowThe8250PlatformDeviceIsProbed) {
  // Newer kernels: tty -> serial8250:0.N port device, bound to the generic "port" driver.
  Dir("sys/bus/serial-base/drivers/port");
  for (const char* n : {"0", "1"}) {
    const std::string device =
        "sys/devices/platform/serial8250/serial8250:0/serial8250:0." + std::string(n);
    Node(std::string("ttyS") + n, device);
    Link(device + "/driver", Path("sys/bus/serial-base/drivers/port").string());
  }
  // A firmware-declared port on the same generic driver needs no probe.
  Node("ttyS4", "sys/devices/pnp0/00:00/00:00:0/00:00:0.0");
  Link("sys/devices/pnp0/00:00/00:00:0/00:00:0.0/driver",
       Path("sys/bus/serial-base/drivers/port").string());
  const auto probe = [](const std::string& path) { return path.ends_with("ttyS1"); };
  EXPECT_EQ(Scan(probe), (std::vector<std::string>{"ttyS1", "ttyS4"}));
}

TEST_F(FakeSystem, PublishedLinksWithLiveTargetsAreListed) {
  BuildMachine();
  File("pts/3");
  File("pts/4");
  Publish("run/loader-ports/bootsim0", "pts/3");
  Publish("run/loader-ports/bootsim1", "pts/9");  // terminal gone
  Publish("run/loader-ports/bootsim2", "pts/4");
  Publish("run/loader-ports/.bootsim3", "pts/4");  // being published
  Publish("run/loader-ports/ttyUSB0", "pts/4");    // shadowed by /dev/ttyUSB0
  File("run/loader-ports/notes");
  EXPECT_EQ(Scan(nullptr), (std::vector<std::string>{"bootsim0", "bootsim2", "ttyS4", "ttyUSB0"}));
}

// A USB device folder as the kernel shows it: descriptors beside the ids, interfaces below.
struct UsbCase {
  const char* tty;
  std::vector<std::pair<const char*, const char*>> attrs;  // file, contents
  const char* below;  // the tty's device, relative to the USB device folder
  const char* described;
};

TEST_F(FakeSystem, DescribesEachPortByItsNodeAndItsUsbDevice) {
  const UsbCase cases[] = {
      {"ttyUSB0",
       {{"idVendor", "0403\n"},
        {"idProduct", "6001\n"},
        {"manufacturer", "FTDI\n"},
        {"product", "FT232R USB UART\n"},
        {"serial", "A50285BI\n"}},
       "1-1:1.0/ttyUSB0",
       " — FTDI FT232R USB UART, serial A50285BI (0403:6001)"},
      // The interface itself is the tty's device; the product repeats its maker.
      {"ttyACM0",
       {{"idVendor", "2341"},
        {"idProduct", "0043"},
        {"manufacturer", "Arduino"},
        {"product", "Arduino Uno"}},
       "1-1:1.0",
       " — Arduino Uno (2341:0043)"},
      // Descriptors that say nothing, or break the line, keep the description one line.
      {"ttyUSB1",
       {{"idVendor", "1a86"}, {"idProduct", "7523"}, {"product", "  \n"}, {"serial", "a\tb"}},
       "1-1:1.0/ttyUSB1",
       " — USB device, serial a b (1a86:7523)"},
      {"ttyUSB2", {{"manufacturer", "Maker without ids"}}, "1-1:1.0/ttyUSB2", ""},
  };
  int n = 0;
  for (const UsbCase& c : cases) {
    const std::string usb = "sys/devices/pci0/usb1/1-" + std::to_string(++n);
    for (const auto& [file, text] : c.attrs) Attr(usb + "/" + file, text);
    Node(c.tty, usb + "/" + c.below);
  }
  Node("ttyS4", "sys/devices/pnp0/00:05");
  File("pts/3");
  Publish("run/loader-ports/bootsim0", "pts/3");

  std::map<std::string, std::string> described;
  for (const TComPortInfo& p :
       EnumerateComPortInfoIn(Path("sys/class/tty").string(), Path("dev").string(),
                              Path("run/loader-ports").string(), nullptr)) {
    described[p.name] = p.description;
  }
  ASSERT_EQ(described.size(), std::size(cases) + 2);
  for (const UsbCase& c : cases)
    EXPECT_EQ(described[c.tty], Path(std::string("dev/") + c.tty).string() + c.described) << c.tty;
  EXPECT_EQ(described["ttyS4"], Path("dev/ttyS4").string());
  EXPECT_EQ(described["bootsim0"], "simulated device (bootsim) on " + Path("pts/3").string());
}

TEST_F(FakeSystem, MissingFoldersGiveAShorterOrEmptyList) {
  EXPECT_EQ(Scan(nullptr), std::vector<std::string>{});
  File("pts/1");
  Publish("run/loader-ports/bootsim0", "pts/1");
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
  Publish("ports/bootsim5", "pts/7");
  std::vector<std::string> names;
  {
    TPortsDirEnv env(Path("ports"));
    names = EnumerateComPorts();
  }
  EXPECT_NE(std::find(names.begin(), names.end(), "bootsim5"), names.end());
  for (const auto& n : names) {
    EXPECT_FALSE(n.empty());
    EXPECT_EQ(n.find('/'), std::string::npos) << n;
  }
}

// Only a folder that nobody but this user can write is trusted: anyone else who may write
// it (or who made it first and left a link in its place) could plant names in it that
// lead to other devices. The listing and the opening by name agree.
struct FolderCase {
  const char* label;
  fs::perms perms;
  bool viaLink;
  bool trusted;
};

// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const FolderCase& c, std::ostream* os) {
  *os << c.label;
}

class PublishedFolderTest : public FakeSystem, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(PublishedFolderTest, IsTrustedOnlyWhenPrivate) {
  const FolderCase& c = GetParam();
  File("pts/2");
  Publish("real-ports/bootsim0", "pts/2");
  fs::permissions(Path("real-ports"), c.perms, fs::perm_options::replace);
  if (c.viaLink) {
    Link("run/loader-ports", Path("real-ports").string());
  } else {
    fs::create_directories(Path("run"));
    fs::rename(Path("real-ports"), Path("run/loader-ports"));
  }
  const auto expected =
      c.trusted ? std::vector<std::string>{"bootsim0"} : std::vector<std::string>{};
  EXPECT_EQ(Scan(nullptr), expected);
  TPortsDirEnv env(Path("run/loader-ports"));
  EXPECT_EQ(ResolveDevicePath("bootsim0"),
            c.trusted ? Path("run/loader-ports/bootsim0").string() : "/dev/bootsim0");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PublishedFolderTest,
    ::testing::Values(FolderCase{"Private", fs::perms::owner_all, false, true},
                      FolderCase{"OthersMayRead", fs::perms(0755), false, true},
                      FolderCase{"GroupWritable", fs::perms(0770), false, false},
                      FolderCase{"OthersWritable", fs::perms(0702), false, false},
                      FolderCase{"WorldWritableSticky", fs::perms(01777), false, false},
                      FolderCase{"LinkToAPrivateFolder", fs::perms::owner_all, true, false}),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return info.param.label; });

// A simulator killed without withdrawing its name leaves the link behind; only a name whose
// lock file is held by a running simulator is listed and opened.
TEST_F(FakeSystem, PublishedNameCountsOnlyWhileItsSimulatorRuns) {
  File("pts/5");
  Publish("run/loader-ports/bootsim0", "pts/5");
  Publish("run/loader-ports/bootsim1", "pts/5");
  Publish("run/loader-ports/bootsim2", "pts/5");
  close(locks_[1]);  // bootsim1 killed: its lock file stays, unheld
  locks_.erase(locks_.begin() + 1);
  fs::remove(Path("run/loader-ports/bootsim2.lock"));  // published without a lock file
  EXPECT_EQ(Scan(nullptr), std::vector<std::string>{"bootsim0"});
  TPortsDirEnv env(Path("run/loader-ports"));
  EXPECT_EQ(ResolveDevicePath("bootsim0"), Path("run/loader-ports/bootsim0").string());
  EXPECT_EQ(ResolveDevicePath("bootsim1"), "/dev/bootsim1");
  EXPECT_EQ(ResolveDevicePath("bootsim2"), "/dev/bootsim2");
}

}  // namespace
}  // namespace serial
