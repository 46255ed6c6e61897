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
  size_ = static_cast<std::uint64_t>(st.st_size);
  position_ = 0;
  return 0;
}

ImageFile::ErrorCode ImageFile::NotFound() {
  return ENOENT;
}

std::size_t ImageFile::ReadSome(void* p, std::size_t n, ErrorCode& error) {
  error = 0;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), p, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) {
      error = static_cast<ErrorCode>(errno);
      return 0;
    }
  }
}

}  // namespace engine
