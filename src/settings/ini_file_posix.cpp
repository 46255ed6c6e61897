// The INI backend on POSIX: our own reader and writer. The file is small, so every
// operation reads it afresh and every write replaces it as a whole: the new text goes to
// a temporary file in the same folder, is flushed to disk and then renamed over the old
// file, so a failed or interrupted write never leaves a truncated or half-written file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/file.h"
#include "settings/ini_backends.h"
#include "settings/ini_text.h"

namespace settings {

namespace {

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }
  void Close() { ::close(Release()); }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// What the store makes of the file behind its name.
struct TFileText {
  enum Kind { kText, kMissing, kUnreadable } kind = kText;
  platform::TWholeFile whole;  // text up to the first NUL byte

  // What a read sees: whatever is not a readable settings file reads like a missing one.
  std::string_view Text() const { return kind == kText ? whole.text : std::string_view(); }
};

// Reads the settings file without ever blocking: only a regular file is read (a FIFO or a
// device under the name would wait for a writer or never end), and only as far as its size
// when opened and its first NUL byte, so memory stays bounded by the file's own size.
TFileText ReadWhole(const std::string& path) {
  TFileText result;
  if (const platform::TErrorCode error = platform::ReadWholeFile(path, result.whole); error != 0) {
    result.kind = error == platform::NotFoundError() ? TFileText::kMissing : TFileText::kUnreadable;
  }
  return result;
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

// "." + name + ".tmp" must stay within the usual 255-byte limit of a file name.
constexpr std::size_t kMaxTempStem = 250;

// Opens the temporary file that a write goes through, created afresh and locked (flock)
// for as long as the write lasts. Its name is fixed, so a file left by a write that was
// interrupted between creating and renaming it is found and removed by the next write;
// only a writer that holds the lock on the file under the name may remove or rename it,
// so two writers never share one. Whatever else stands under the name (a planted link,
// a FIFO) is removed, never followed or opened for writing. -1 when another write of the
// same file is under way or the folder refuses.
int OpenTempFile(const std::string& tempName, mode_t mode) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    int raw = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    const bool created = raw >= 0;
    if (!created) {
      if (errno != EEXIST) return -1;
      raw = ::open(tempName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (raw < 0 && errno == ELOOP) {
        ::unlink(tempName.c_str());  // removes the link itself, not what it points at
        continue;
      }
      if (raw < 0 && errno == ENOENT) continue;  // its writer has just finished
      if (raw < 0) return -1;
    }
    TFd fd(raw);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return -1;
    struct stat held {
    }, named{};
    if (::fstat(fd.get(), &held) != 0) return -1;
    // The writer whose lock we waited for may have renamed or removed it meanwhile.
    if (::lstat(tempName.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
        named.st_ino != held.st_ino) {
      continue;
    }
    if (created) return fd.Release();
    ::unlink(tempName.c_str());  // left by an interrupted write: start afresh
  }
  return -1;
}

// Replaces the file at `path` with `data` atomically; false if that could not be done,
// in which case the old file is untouched and no temporary file of ours is left behind.
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
  // The rename would replace a file that its mode keeps from being written: honoured as a
  // write through the file would be. Its owner's own write bit binds even the superuser,
  // as a read-only file's attribute does on Windows.
  if (exists && (old.st_uid == ::geteuid() ? (old.st_mode & S_IWUSR) == 0
                                           : ::access(target.c_str(), W_OK) != 0)) {
    return false;
  }

  // One fixed name per settings file (shortened only where the folder's name limit needs it).
  const std::string tempName =
      (dir / std::string(".").append(target.filename().string(), 0, kMaxTempStem).append(".tmp"))
          .string();
  // A new file gets the usual mode (0666 less the umask); a rewrite keeps the old one.
  TFd fd(OpenTempFile(tempName, exists ? 0600 : 0666));
  if (fd.get() < 0) return false;

  bool ok = true;
  if (exists) {
    ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    if (ok && ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // Only a privileged writer can hand the file back to its owner; others keep theirs.
    }
  }
  ok = ok && WriteAll(fd.get(), data) && ::fsync(fd.get()) == 0;
  // Renamed or removed while still locked: another writer must not take it for a stale one.
  ok = ok && ::rename(tempName.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tempName.c_str());
    return false;
  }
  fd.Close();
  // Make the rename itself durable; not every file system can sync a folder.
  TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return true;
}

}  // namespace

std::string TIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) {
  // Every key of a file that is missing, unreadable or not a file gives its fallback, so
  // the window still starts.
  return ini::ReadText(ReadWhole(FileName()).Text(), section, key, fallback);
}

void TIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) {
  // A file that cannot be read whole is not overwritten: its other entries would be lost.
  // Neither is anything but a regular file (a FIFO, a device, a folder) under the name.
  const TFileText file = ReadWhole(FileName());
  std::optional<std::string> updated;
  if (file.kind == TFileText::kText && !file.whole.cutAtNul) {
    updated = ini::WithValue(file.whole.text, section, key, value);
  } else if (file.kind == TFileText::kMissing) {
    updated = ini::WithValue("", section, key, value);
  }
  if (!updated || !ReplaceFile(FileName(), *updated)) {
    throw EIniFileException("Unable to write to " + FileName());
  }
}

void TIniFile::ListKeys(const std::string& section, std::vector<std::string>& list) {
  list = ini::KeyNames(ReadWhole(FileName()).Text(), section);
}

// Every write reaches the disk before it returns; nothing is held back to flush.
void TIniFile::FlushFile() {}

}  // namespace settings
