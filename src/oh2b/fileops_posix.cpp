// POSIX file layer of the converter.
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "oh2b/fileops.h"

namespace oh2b::fileops {

namespace {

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

ErrorCode LastError() {
  return static_cast<ErrorCode>(errno);
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

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
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

std::string SystemErrorText(ErrorCode code) {
  std::string text = std::system_category().message(static_cast<int>(code));
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

std::string PathInDirectory(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + '/' + name;
}

MemoryBlock::MemoryBlock(std::size_t size) {
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

MemoryBlock::~MemoryBlock() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

ErrorCode ReadWholeFile(const std::string& path, MemoryBlock& block, std::size_t& length) {
  length = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastError();
  struct stat st;
  std::size_t expected = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    expected = static_cast<std::size_t>(st.st_size);
  }
  // One read for a regular file of known size (the spare byte shows its end);
  // growing reads for anything else.
  MemoryBlock buffer(expected + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == buffer.size()) buffer.Grow(used);
    const ssize_t got = ::read(fd, buffer.data() + used, buffer.size() - used);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const ErrorCode error = LastError();
      ::close(fd);
      return error;
    }
    used += static_cast<std::size_t>(got);
  }
  ::close(fd);
  block.Swap(buffer);
  length = used;
  return 0;
}

OutputFile::~OutputFile() {
  if (IsOpen()) ::close(Fd(handle_));
}

ErrorCode OutputFile::Create(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return LastError();
  handle_ = fd;
  return 0;
}

ErrorCode OutputFile::Write(const void* data, std::size_t size) {
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

ErrorCode OutputFile::Seek(std::uint64_t offset) {
  if (::lseek(Fd(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) return LastError();
  return 0;
}

ErrorCode OutputFile::Close() {
  if (!IsOpen()) return 0;
  const int fd = Fd(handle_);
  handle_ = kNoHandle;
  // The descriptor is gone whatever close() reports; EINTR must not lead to a retry.
  if (::close(fd) != 0 && errno != EINTR) return LastError();
  return 0;
}

}  // namespace oh2b::fileops
