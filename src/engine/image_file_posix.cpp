// POSIX layer of the image file. POSIX has no share modes; the converter recreates
// the file only when a new start has released it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/image_file.h"

namespace engine {

ImageFile::~ImageFile() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
}

ImageFile::ErrorCode ImageFile::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return static_cast<ErrorCode>(errno);
  struct stat st;
  ErrorCode error = 0;
  if (::fstat(fd, &st) != 0)
    error = static_cast<ErrorCode>(errno);
  else if (S_ISDIR(st.st_mode))
    error = EISDIR;  // opens here, but is no image
  if (error != 0) {
    ::close(fd);
    return error;
  }
  handle_ = fd;
  return 0;
}

ImageFile::ErrorCode ImageFile::NotFound() {
  return ENOENT;
}

std::uint64_t ImageFile::Size() const {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::size_t ImageFile::Read(void* p, std::size_t n, ErrorCode& error) {
  auto* out = static_cast<char*>(p);
  std::size_t done = 0;
  error = 0;
  while (done < n) {
    const ssize_t got = ::read(static_cast<int>(handle_), out + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = static_cast<ErrorCode>(errno);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace engine
