#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "serial/port_names.h"

namespace serial {

std::string PublishedPortsDir() {
  if (const char* dir = std::getenv("LOADER_PORTS_DIR"); dir && *dir) return dir;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
    return std::string(run) + "/loader-ports";
  return "/tmp/loader-ports-" + std::to_string(getuid());
}

std::string ResolveDevicePath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  struct stat st {};
  const std::string dev = "/dev/" + name;
  if (name.empty() || stat(dev.c_str(), &st) == 0) return dev;
  std::string published = PublishedPortsDir() + "/" + name;
  if (lstat(published.c_str(), &st) == 0) return published;
  return dev;
}

}  // namespace serial
