#include "port_publisher.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "serial/port_names.h"

namespace bootsim {

namespace {

[[noreturn]] void ThrowErrno(int err, const std::string& what) {
  throw std::system_error(err, std::generic_category(), what);
}

void EnsurePrivateDir(const std::string& dir) {
  const auto slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    std::error_code ec;
    std::filesystem::create_directories(dir.substr(0, slash), ec);
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) ThrowErrno(errno, "mkdir " + dir);
  // A folder someone else owns or may write to could redirect the loader to another
  // device; the readers would ignore it anyway.
  if (!serial::IsPrivateFolder(dir)) {
    throw std::runtime_error(dir + " is not a private folder of this user (use --no-publish)");
  }
}

}  // namespace

std::string TPublisher::Publish(const std::string& dir, const std::string& target,
                                const std::string& wanted) {
  Withdraw();
  dir_ = dir;
  EnsurePrivateDir(dir_);
  if (!wanted.empty()) {
    if (!TryClaim(target, wanted)) {
      throw std::runtime_error("cannot publish as " + wanted + ": " + dir_ + "/" + wanted +
                               " is in use");
    }
    return name_;
  }
  for (int n = 0; n < 10000; ++n) {
    if (TryClaim(target, "bootsim" + std::to_string(n))) return name_;
  }
  throw std::runtime_error("no free bootsimN name in " + dir_);
}

// A name belongs to whoever holds its lock file locked; the lock goes with the process, so
// a simulator that was killed gives its name up without withdrawing it.
bool TPublisher::TryClaim(const std::string& target, const std::string& name) {
  const std::string lockPath = serial::PublishedLockPath(dir_, name);
  const std::string linkPath = dir_ + "/" + name;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int fd =
        open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) ThrowErrno(errno, "open " + lockPath);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      close(fd);
      if (err == EWOULDBLOCK) return false;  // a running simulator (or a reader just now)
      ThrowErrno(err, "flock " + lockPath);
    }
    // The simulator whose lock we got after it withdrew has removed the file we opened.
    struct stat held {
    }, named{};
    if (fstat(fd, &held) != 0 || lstat(lockPath.c_str(), &named) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
      close(fd);
      continue;
    }
    // The name is ours now: whatever link stands under it was left by a killed simulator.
    if ((unlink(linkPath.c_str()) != 0 && errno != ENOENT) ||
        symlink(target.c_str(), linkPath.c_str()) != 0) {
      const int err = errno;
      unlink(lockPath.c_str());
      close(fd);
      ThrowErrno(err, "symlink " + linkPath);
    }
    lock_ = fd;
    name_ = name;
    return true;
  }
  return false;
}

void TPublisher::Withdraw() {
  if (lock_ < 0) return;
  // Removed while still locked, so nobody can claim the name half-way.
  unlink((dir_ + "/" + name_).c_str());
  unlink(serial::PublishedLockPath(dir_, name_).c_str());
  close(lock_);
  lock_ = -1;
  name_.clear();
}

}  // namespace bootsim
