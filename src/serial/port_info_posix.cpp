// Port discovery on Linux: the terminals in sysfs that have a device behind them, and the
// simulated ports that bootsim publishes.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "serial/port_info.h"
#include "serial/port_names.h"

namespace serial {

namespace fs = std::filesystem;

namespace {

// The 8250 driver registers every port it might have (often 32 ttyS), present or not;
// only those need asking whether a UART answers. Older kernels put the tty right on the
// "serial8250" platform device (driver "serial8250"); newer ones on a port device below it
// ("serial8250:0.3", driver "port").
bool IsSerial8250(const fs::path& ttyEntry) {
  std::error_code ec;
  const fs::path driver = fs::read_symlink(ttyEntry / "device" / "driver", ec);
  if (!ec && driver.filename() == "serial8250") return true;
  const fs::path device = fs::canonical(ttyEntry / "device", ec);
  if (ec) return false;
  for (const fs::path& part : device) {
    if (part.string().starts_with("serial8250")) return true;
  }
  return false;
}

// One line of a sysfs attribute: its first line without surrounding blanks, control
// characters (a tab would split a long listing's line) made blanks, and kept short.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return "";
  constexpr std::size_t kMaxLength = 100;
  if (line.size() > kMaxLength) line.resize(kMaxLength);
  std::ranges::replace_if(
      line, [](unsigned char c) { return c < ' ' || c == 0x7F; }, ' ');
  const auto first = line.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

// What the USB device behind a tty says about itself, e.g. "FTDI FT232R USB UART, serial
// A50285BI (0403:6001)"; "" when no USB device is found. The tty's device is the USB
// interface (ACM) or a port below it (usb-serial); the USB device holding the descriptors
// is the nearest folder above that carries the vendor id.
std::string UsbDescription(const fs::path& ttyEntry) {
  std::error_code ec;
  fs::path dir = fs::canonical(ttyEntry / "device", ec);
  if (ec) return "";
  constexpr int kMaxLevels = 4;
  for (int level = 0; level < kMaxLevels && dir.has_relative_path(); ++level) {
    const std::string vendor = ReadAttribute(dir / "idVendor");
    if (!vendor.empty()) {
      const std::string maker = ReadAttribute(dir / "manufacturer");
      const std::string product = ReadAttribute(dir / "product");
      const std::string serial = ReadAttribute(dir / "serial");
      // Many products already begin with their maker's name.
      std::string text = maker;
      if (!product.empty())
        text = text.empty() || product.starts_with(text) ? product : text + " " + product;
      if (text.empty()) text = "USB device";
      if (!serial.empty()) text += ", serial " + serial;
      const std::string productId = ReadAttribute(dir / "idProduct");
      text += " (" + vendor + (productId.empty() ? "" : ":" + productId) + ")";
      return text;
    }
    dir = dir.parent_path();
  }
  return "";
}

void AddSysfsPorts(const fs::path& sysClassTty, const fs::path& devDir, const TUartProbe& probe,
                   std::vector<TComPortInfo>& ports) {
  std::error_code ec;
  fs::directory_iterator it(sysClassTty, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path entry = it->path();
    const std::string name = entry.filename().string();
    std::error_code e;
    // Virtual consoles and pseudo-terminals have no device behind them.
    if (!fs::exists(entry / "device", e)) continue;
    // The serial component opens the port as /dev/NAME.
    const fs::path node = devDir / name;
    if (!fs::exists(node, e)) continue;
    if (IsSerial8250(entry) && !(probe && probe(node.string()))) continue;
    std::string description = node.string();
    if (const std::string usb = UsbDescription(entry); !usb.empty()) description += " — " + usb;
    ports.push_back({name, std::move(description)});
  }
}

void AddPublishedPorts(const std::string& publishedDir, const fs::path& devDir,
                       std::vector<TComPortInfo>& ports) {
  // Names in a folder that someone else could write lead wherever they want.
  if (!IsPrivateFolder(publishedDir)) return;
  std::error_code ec;
  fs::directory_iterator it(publishedDir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code e;
    if (name.empty() || name.front() == '.') continue;  // half-published entries
    if (!fs::is_symlink(it->symlink_status(e)) || e) continue;
    // A simulator killed without withdrawing leaves its link, which may by now lead to
    // another program's terminal.
    if (!IsPublishedPortLive(publishedDir, name)) continue;
    if (!fs::exists(it->path(), e)) continue;
    // A device node of the same name wins when the port is opened; do not list it twice.
    if (fs::exists(fs::symlink_status(devDir / name, e))) continue;
    const fs::path terminal = fs::read_symlink(it->path(), e);
    if (e) continue;
    ports.push_back({name, "simulated device (bootsim) on " + terminal.string()});
  }
}

}  // namespace

std::vector<TComPortInfo> EnumerateComPortInfoIn(const std::string& sysClassTty,
                                                 const std::string& devDir,
                                                 const std::string& publishedDir,
                                                 const TUartProbe& probe) {
  std::vector<TComPortInfo> ports;
  try {
    AddSysfsPorts(sysClassTty, devDir, probe, ports);
    if (!publishedDir.empty()) AddPublishedPorts(publishedDir, devDir, ports);
  } catch (const std::exception&) {
    // Out of memory or a name the file system library refused: keep what was found.
  }
  return ports;
}

std::vector<std::string> EnumerateComPortsIn(const std::string& sysClassTty,
                                             const std::string& devDir,
                                             const std::string& publishedDir,
                                             const TUartProbe& probe) {
  return PortNamesOf(EnumerateComPortInfoIn(sysClassTty, devDir, publishedDir, probe));
}

bool ProbeUart(const std::string& devicePath) {
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  // A port another program holds exclusively is there all the same.
  if (fd < 0) return errno == EBUSY;
  serial_struct info{};
  const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return present;
}

std::vector<TComPortInfo> EnumerateComPortInfo() {
  std::string published;
  try {
    published = PublishedPortsDir();
  } catch (const std::exception&) {
  }
  return EnumerateComPortInfoIn("/sys/class/tty", "/dev", published, ProbeUart);
}

std::vector<std::string> EnumerateComPorts() {
  return PortNamesOf(EnumerateComPortInfo());
}

}  // namespace serial
