#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::string PublishedLockPath(const std::string& dir, const std::string& name) {
  return dir + "/" + name + ".lock";
}

bool IsPrivateFolder(const std::string& dir) {
  struct stat st {};
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsPublishedPortLive(const std::string& dir, const std::string& name) {
  struct stat st {};
  if (lstat((dir + "/" + name).c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  const int fd = open(PublishedLockPath(dir, name).c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  // Taking the lock succeeds only when nobody holds it: the simulator has gone.
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

std::string ResolveDevicePath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  struct stat st {};
  const std::string dev = "/dev/" + name;
  if (name.empty() || stat(dev.c_str(), &st) == 0) return dev;
  const std::string dir = PublishedPortsDir();
  if (IsPrivateFolder(dir) && IsPublishedPortLive(dir, name)) return dir + "/" + name;
  return dev;
}

}  // namespace serial
