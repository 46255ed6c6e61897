// The image file as the transfer engine reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"

namespace engine {

// The image a transfer sends. An image of up to copyLimit bytes is copied whole when it is
// opened, and the file is let go: whatever happens to the file later, the transfer sends
// what was converted. A larger one is read from the file as it is sent, held unshared
// where the system can (POSIX cannot), and checked at its end.
class TImageFile {
 public:
  using ErrorCode = platform::TErrorCode;

  // Above this size the image is read from its file as it is sent; images are tens of
  // kilobytes, the device's address space 64 KiB.
  static constexpr std::uint64_t kCopyLimit = std::uint64_t{16} << 20;

  // crc32: the conversion's platform::Crc32 of the image. Bytes that do not match it are
  // kContentChanged: at Open for a copy, at the read that reaches the end otherwise. Without
  // it nothing is compared and nothing copied.
  ErrorCode Open(const std::string& path, std::optional<std::uint32_t> crc32 = std::nullopt,
                 std::uint64_t copyLimit = kCopyLimit);
  // The code of "no such file", for a name that cannot be a file at all.
  static ErrorCode NotFound() { return platform::NotFoundError(); }
  // Size in bytes when the file was opened: the image being sent.
  std::uint64_t Size() const { return size_; }
  // Reads up to n bytes of the image; fewer only at its end or when reading fails,
  // which sets error (0 at the end). A file that has become shorter or longer than
  // the image it held at Open is a failure: whatever came of it, it is no longer the
  // image whose transfer began.
  std::size_t Read(void* p, std::size_t n, ErrorCode& error);

 private:
  std::size_t ReadFile(void* p, std::size_t n, ErrorCode& error);
  // One read of the system: up to n bytes, 0 at the end of the file.
  std::size_t ReadSome(void* p, std::size_t n, ErrorCode& error);

  platform::TFile file_;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  std::optional<std::uint32_t> expectedCrc_;
  std::uint32_t crc_ = 0;  // of the bytes read from the file so far
  bool copied_ = false;
  std::vector<std::uint8_t> copy_;
};

}  // namespace engine
