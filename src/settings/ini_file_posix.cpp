// The INI backend on POSIX: our own reader and writer. The file is small, so every
// operation reads it afresh and every write replaces it as a whole: the new text goes to
// a temporary file in the same folder, is flushed to disk and then renamed over the old
// file, so a failed or interrupted write never leaves a truncated or half-written file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "settings/ini_backends.h"
#include "settings/ini_text.h"

namespace settings {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// The file's whole text: "" if it does not exist, nothing if it exists but cannot be read.
std::optional<std::string> ReadWhole(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::string();
    return std::nullopt;
  }
  std::string text;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Replaces the file at `path` with `data` atomically; false if that could not be done,
// in which case the old file is untouched and no temporary file is left behind.
bool ReplaceFile(std::filesystem::path target, const std::string& data) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // Writing through a link updates (or creates) the file it points at and keeps the link.
  for (int hops = 0; fs::is_symlink(target, ec); ++hops) {
    const fs::path next = fs::read_symlink(target, ec);
    if (ec || hops == 40) return false;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && !S_ISREG(old.st_mode)) return false;

  static std::atomic<unsigned> counter{0};
  std::string tempName;
  int rawFd = -1;
  for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
    // Named after the file (shortened, so a long name still leaves room) to show whose it is.
    tempName = (dir / (std::string(".").append(target.filename().string(), 0, 64) + ".tmp-" +
                       std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                   .string();
    // A new file gets the usual mode (0666 less the umask); a rewrite keeps the old one.
    rawFd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (rawFd < 0 && errno != EEXIST) return false;
  }
  if (rawFd < 0) return false;
  Fd fd(rawFd);

  bool ok = true;
  if (exists) {
    ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    if (ok && ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // Only a privileged writer can hand the file back to its owner; others keep theirs.
    }
  }
  ok = ok && WriteAll(fd.get(), data) && ::fsync(fd.get()) == 0;
  ok = fd.Close() && ok;
  ok = ok && ::rename(tempName.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tempName.c_str());
    return false;
  }
  // Make the rename itself durable; not every file system can sync a folder.
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return true;
}

}  // namespace

std::string TIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) {
  // An unreadable file reads like a missing one: every key gives its fallback.
  const std::string text = ReadWhole(FileName()).value_or(std::string());
  return ini::ReadText(text, section, key, fallback);
}

void TIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) {
  // A file that exists but cannot be read is not overwritten: its other entries would be lost.
  const std::optional<std::string> text = ReadWhole(FileName());
  std::optional<std::string> updated;
  if (text) updated = ini::WithValue(*text, section, key, value);
  if (!updated || !ReplaceFile(FileName(), *updated)) {
    throw EIniFileException("Unable to write to " + FileName());
  }
}

void TIniFile::ListKeys(const std::string& section, std::vector<std::string>& list) {
  list = ini::KeyNames(ReadWhole(FileName()).value_or(std::string()), section);
}

// Every write reaches the disk before it returns; nothing is held back to flush.
void TIniFile::FlushFile() {}

}  // namespace settings
