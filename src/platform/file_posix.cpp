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
#include <new>
#include <system_error>
#include <vector>

#include "platform/file.h"

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

}  // namespace

TFileKind KindOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return TFileKind::kMissing;
  if (S_ISREG(st.st_mode)) return TFileKind::kRegular;
  return S_ISDIR(st.st_mode) ? TFileKind::kDirectory : TFileKind::kOther;
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

std::string MakePrivateFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string name =
      PathInDirectory(base != nullptr && *base != '\0' ? base : "/tmp", "loader-XXXXXX");
  // mkdtemp makes the folder with mode 0700 under a fresh name.
  if (::mkdtemp(name.data()) == nullptr) return {};
  return name;
}

std::string PathInDirectory(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + '/' + name;
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
