// The image file as the transfer engine reads it, one implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

// A file opened for reading and shared with nobody while it is held, so that the
// image cannot change under a transfer.
class ImageFile {
 public:
  // errno on POSIX, GetLastError() on Windows; 0 means success.
  using ErrorCode = unsigned long;

  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile();

  ErrorCode Open(const std::string& path);
  // The code of "no such file", for a name that cannot be a file at all.
  static ErrorCode NotFound();
  // Size in bytes at the time of the call.
  std::uint64_t Size() const;
  // Reads up to n bytes; fewer only at the end of the file or when reading fails,
  // which sets error (0 at the end of the file).
  std::size_t Read(void* p, std::size_t n, ErrorCode& error);

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};

}  // namespace engine
