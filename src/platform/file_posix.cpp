// POSIX file layer.
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "platform/file.h"
#include "platform/file_names.h"

namespace platform {

namespace {

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

TErrorCode LastError() {
  return static_cast<TErrorCode>(errno);
}

bool IsSpace(char c) {
  return static_cast<unsigned char>(c) <= ' ' || c == '\x7f';
}

// link() + unlink() moves a name without ever replacing the target; used where the
// kernel or file system lacks an atomic no-replace rename.
bool LinkAndUnlink(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    // No hard links on this file system: check, then rename. The window between
    // the two is the best such a file system allows.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
  }
  if (::unlink(from.c_str()) != 0) {
    ::unlink(to.c_str());  // leave things as they were
    return false;
  }
  return true;
}

// A descriptor closed when it goes out of scope.
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

// "." + name + ".tmp" must stay within the usual 255-byte limit of a file name.
constexpr std::size_t kMaxTempStem = 250;

// Opens the temporary file that a replacement goes through, created afresh and locked
// (flock) for as long as the write lasts. Its name is fixed, so a file left by a write that
// was interrupted between creating and renaming it is found and removed by the next write;
// only a writer that holds the lock on the file under the name may remove or rename it, so
// two writers never share one. Whatever else stands under the name (a planted link, a FIFO)
// is removed, never followed or opened for writing. -1 with errno set (EBUSY when another
// write of the same file is under way).
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
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) errno = EBUSY;
      return -1;
    }
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
  errno = EBUSY;
  return -1;
}

TErrorCode WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastError();
    if (n == 0) return ENOSPC;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

TFileKind KindOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return TFileKind::ftMissing;
  if (S_ISREG(st.st_mode)) return TFileKind::ftRegular;
  return S_ISDIR(st.st_mode) ? TFileKind::ftDirectory : TFileKind::ftOther;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
#endif
  return LinkAndUnlink(from, to);
}

TErrorCode RenameReplacing(const std::string& from, const std::string& to) {
  // rename() replaces the name to itself, a symbolic link included, in one step.
  if (std::rename(from.c_str(), to.c_str()) != 0) return LastError();
  return 0;
}

TErrorCode ReplaceFileContents(const std::string& path, std::string_view data) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target = path;
  // Writing through a link updates (or creates) the file it points at and keeps the link.
  for (int hops = 0; fs::is_symlink(target, ec); ++hops) {
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) return static_cast<TErrorCode>(ec.value());
    if (hops == 40) return ELOOP;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return LastError();
  if (exists && !S_ISREG(old.st_mode)) return S_ISDIR(old.st_mode) ? kIsDirectory : kNotRegularFile;
  // The rename would replace a file that its mode keeps from being written: honoured as a
  // write through the file would be. Its owner's own write bit binds even the superuser,
  // as a read-only file's attribute does on Windows.
  if (exists && (old.st_uid == ::geteuid() ? (old.st_mode & S_IWUSR) == 0
                                           : ::access(target.c_str(), W_OK) != 0)) {
    return EACCES;
  }

  // One fixed name per file (shortened only where the folder's name limit needs it).
  const std::string tempName =
      (dir / std::string(".").append(target.filename().string(), 0, kMaxTempStem).append(".tmp"))
          .string();
  // A new file gets the usual mode (0666 less the umask); a rewrite keeps the old one.
  TFd fd(OpenTempFile(tempName, exists ? 0600 : 0666));
  if (fd.get() < 0) return LastError();

  TErrorCode error = 0;
  if (exists) {
    if (::fchmod(fd.get(), old.st_mode & 07777) != 0) error = LastError();
    if (error == 0 && ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // Only a privileged writer can hand the file back to its owner; others keep theirs.
    }
  }
  if (error == 0) error = WriteAll(fd.get(), data);
  if (error == 0 && ::fsync(fd.get()) != 0) error = LastError();
  // Renamed or removed while still locked: another writer must not take it for a stale one.
  if (error == 0 && ::rename(tempName.c_str(), target.c_str()) != 0) error = LastError();
  if (error != 0) {
    ::unlink(tempName.c_str());
    return error;
  }
  fd.Close();
  // Make the rename itself durable; not every file system can sync a folder.
  const TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return 0;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool RemoveUnheld(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat held;
  struct stat named;
  // The lock is ours only when no process has the file open to write it; the name must
  // still be that file, or another cleaner has been here first.
  const bool removable = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
                         S_ISREG(held.st_mode) && ::lstat(path.c_str(), &named) == 0 &&
                         named.st_dev == held.st_dev && named.st_ino == held.st_ino &&
                         ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removable;
}

TErrorCode NotFoundError() {
  return ENOENT;
}

bool IsNotFound(TErrorCode code) {
  return code == ENOENT || code == ENOTDIR;
}

bool NameTaken(TErrorCode code) {
  return code == EEXIST;
}

std::string SystemMessage(TErrorCode code, std::size_t maxChars) {
  // In the user's language once a program has set its locale: UTF-8, cut between characters.
  std::string text = std::system_category().message(static_cast<int>(code));
  if (text.size() > maxChars) {
    std::size_t cut = maxChars;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  while (!text.empty() && (IsSpace(text.back()) || text.back() == '.')) text.pop_back();
  return text;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string MakePrivateFolder(const std::string& base) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string in =
      !base.empty() ? base : (tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp");
  std::string name = PathInDirectory(in, "loader-XXXXXX");
  // mkdtemp makes the folder with mode 0700 under a fresh name.
  if (::mkdtemp(name.data()) == nullptr) return {};
  return name;
}

TErrorCode LastErrorCode() {
  return static_cast<TErrorCode>(errno);
}

std::string PathInDirectory(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + '/' + name;
}

std::string_view NativePathDelimiters() {
  return "/";
}

TMemoryBlock::TMemoryBlock(std::size_t size) {
  if (size == 0) return;
  // Whole large pages, so that the kernel can back the block with them.
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  size = (size + kLargePage - 1) / kLargePage * kLargePage;
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  ::madvise(data, size, MADV_HUGEPAGE);  // a hint; without it the block simply has small pages
#endif
  data_ = static_cast<char*>(data);
  size_ = size;
}

TMemoryBlock::~TMemoryBlock() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

TFile::~TFile() {
  if (IsOpen()) ::close(Fd(handle_));
}

TErrorCode TFile::OpenToRead(const std::string& path, TShare) {
  Close();
  // A device is refused before it is opened: opening one can act on what it drives (a
  // serial port raises its control lines).
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return S_ISDIR(st.st_mode) ? kIsDirectory : kNotRegularFile;
  }
  // Without O_NONBLOCK opening a FIFO waits for a writer, possibly for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return LastError();
  // The name may have been given to something else since it was looked at.
  TErrorCode error = 0;
  if (::fstat(fd, &st) != 0) {
    error = LastError();
  } else if (S_ISDIR(st.st_mode)) {
    error = kIsDirectory;
  } else if (!S_ISREG(st.st_mode)) {
    error = kNotRegularFile;
  }
  if (error != 0) {
    ::close(fd);
    return error;
  }
  handle_ = fd;
  size_ = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

TErrorCode TFile::Read(void* data, std::size_t size, std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t done = ::read(Fd(handle_), data, size);
    if (done >= 0) {
      got = static_cast<std::size_t>(done);
      return 0;
    }
    if (errno != EINTR) return LastError();
  }
}

TErrorCode TFile::CreateNew(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return LastError();
  // Held (flock) until closed. A cleaner that came between the open and the lock has
  // removed the name: the file is then no longer ours to fill, and the name is free again.
  struct stat held;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 || held.st_nlink == 0) {
    ::close(fd);
    return EEXIST;  // the caller takes another name
  }
  handle_ = fd;
  size_ = 0;
  return 0;
}

TErrorCode TFile::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t done = ::write(Fd(handle_), p, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (done == 0) return ENOSPC;
    p += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

TErrorCode TFile::Seek(std::uint64_t offset) {
  if (::lseek(Fd(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) return LastError();
  return 0;
}

TErrorCode TFile::Close() {
  if (!IsOpen()) return 0;
  const int fd = Fd(handle_);
  handle_ = kNoHandle;
  // The descriptor is gone whatever close() reports; EINTR must not lead to a retry.
  if (::close(fd) != 0 && errno != EINTR) return LastError();
  return 0;
}

}  // namespace platform
