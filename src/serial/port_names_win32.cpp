// Port names on Windows: a port is opened by its DOS device name in the device namespace.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "serial/port_names.h"

namespace serial {

// Simulated ports are not published on Windows; the folder is still named, per user, so
// that tools asking for it get a usable answer.
std::string PublishedPortsDir() {
  if (const char* dir = std::getenv("LOADER_PORTS_DIR"); dir && *dir) return dir;
  char temp[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof temp, temp);
  std::string base = (n > 0 && n < sizeof temp) ? std::string(temp, n) : std::string(".\\");
  if (base.back() != '\\') base += '\\';
  return base + "loader-ports";
}

// "\\?\" followed by the name: the name goes to the device namespace unparsed, so COM10
// and above open as well as COM1.
std::string ResolveDevicePath(const std::string& name) {
  return "\\\\?\\" + name;
}

}  // namespace serial
