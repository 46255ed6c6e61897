// Port discovery on Linux: the terminals in sysfs that have a device behind them, and the
// simulated ports that bootsim publishes.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "app/comports.h"
#include "serial/port_names.h"

namespace app {

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

void AddSysfsPorts(const fs::path& sysClassTty, const fs::path& devDir, const TUartProbe& probe,
                   std::vector<std::string>& names) {
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
    names.push_back(name);
  }
}

void AddPublishedPorts(const std::string& publishedDir, const fs::path& devDir,
                       std::vector<std::string>& names) {
  // Names in a folder that someone else could write lead wherever they want.
  if (!serial::IsPrivateFolder(publishedDir)) return;
  std::error_code ec;
  fs::directory_iterator it(publishedDir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code e;
    if (name.empty() || name.front() == '.') continue;  // half-published entries
    if (!fs::is_symlink(it->symlink_status(e)) || e) continue;
    // A simulator killed without withdrawing leaves its link, which may by now lead to
    // another program's terminal.
    if (!serial::IsPublishedPortLive(publishedDir, name)) continue;
    if (!fs::exists(it->path(), e)) continue;
    // A device node of the same name wins when the port is opened; do not list it twice.
    if (fs::exists(fs::symlink_status(devDir / name, e))) continue;
    names.push_back(name);
  }
}

}  // namespace

std::vector<std::string> EnumerateComPortsIn(const std::string& sysClassTty,
                                             const std::string& devDir,
                                             const std::string& publishedDir,
                                             const TUartProbe& probe) {
  std::vector<std::string> names;
  try {
    AddSysfsPorts(sysClassTty, devDir, probe, names);
    if (!publishedDir.empty()) AddPublishedPorts(publishedDir, devDir, names);
  } catch (const std::exception&) {
    // Out of memory or a name the file system library refused: keep what was found.
  }
  return names;
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

std::vector<std::string> EnumerateComPorts() {
  std::string published;
  try {
    published = serial::PublishedPortsDir();
  } catch (const std::exception&) {
  }
  return EnumerateComPortsIn("/sys/class/tty", "/dev", published, ProbeUart);
}

}  // namespace app
