// The image file as the transfer engine reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace engine {

// A file opened for reading and shared with nobody while it is held, so that the
// image cannot change under a transfer.
class TImageFile {
 public:
  using ErrorCode = platform::TErrorCode;

  ErrorCode Open(const std::string& path);
  // The code of "no such file", for a name that cannot be a file at all.
  static ErrorCode NotFound() { return platform::NotFoundError(); }
  // Size in bytes when the file was opened: the image being sent.
  std::uint64_t Size() const { return file_.Size(); }
  // Reads up to n bytes of the image; fewer only at its end or when reading fails,
  // which sets error (0 at the end). A file that has become shorter or longer than
  // the image it held at Open is a failure: whatever came of it, it is no longer the
  // image whose transfer began.
  std::size_t Read(void* p, std::size_t n, ErrorCode& error);

 private:
  // One read of the system: up to n bytes, 0 at the end of the file.
  std::size_t ReadSome(void* p, std::size_t n, ErrorCode& error);

  platform::TFile file_;
  std::uint64_t position_ = 0;
};

}  // namespace engine
