// The image file's reads: the image is what the file held when it was opened, and any
// other length is an error rather than its end.
#include "engine/image_file.h"

#include <algorithm>
#include <cstring>

#include "platform/crc32.h"

namespace engine {

TImageFile::ErrorCode TImageFile::Open(const std::string& path, std::optional<std::uint32_t> crc32,
                                       std::uint64_t copyLimit) {
  position_ = 0;
  crc_ = 0;
  copied_ = false;
  copy_.clear();
  expectedCrc_ = crc32;
  if (const ErrorCode error = file_.OpenToRead(path, platform::TShare::shNobody); error != 0) {
    return error;
  }
  size_ = file_.Size();
  if (!crc32 || size_ > copyLimit) return 0;
  copy_.resize(static_cast<std::size_t>(size_));
  ErrorCode error = 0;
  ReadFile(copy_.data(), copy_.size() + 1, error);  // one more, to see the file end there
  file_.Close();
  position_ = 0;
  copied_ = error == 0;
  if (error != 0) copy_.clear();
  return error;
}

std::size_t TImageFile::Read(void* p, std::size_t n, ErrorCode& error) {
  error = 0;
  if (!copied_) return ReadFile(p, n, error);
  const auto got = static_cast<std::size_t>(
      std::min<std::uint64_t>(n, size_ - std::min<std::uint64_t>(position_, size_)));
  if (got > 0) std::memcpy(p, copy_.data() + position_, got);
  position_ += got;
  return got;
}

std::size_t TImageFile::ReadSome(void* p, std::size_t n, ErrorCode& error) {
  std::size_t got = 0;
  error = file_.Read(p, n, got);
  return got;
}

std::size_t TImageFile::ReadFile(void* p, std::size_t n, ErrorCode& error) {
  auto* out = static_cast<char*>(p);
  const std::uint64_t size = Size();
  const auto want =
      static_cast<std::size_t>(std::min<std::uint64_t>(n, size - std::min(position_, size)));
  std::size_t done = 0;
  error = 0;
  while (done < want) {
    const std::size_t got = ReadSome(out + done, want - done, error);
    if (error != 0) break;
    if (got == 0) {
      error = platform::kSizeChanged;  // cut short after it was opened
      break;
    }
    done += got;
  }
  position_ += done;
  if (error == 0 && done < n) {
    // The image's end: the file must end here too, or it has grown since it was opened.
    char beyond;
    if (ReadSome(&beyond, 1, error) != 0) error = platform::kSizeChanged;
  }
  crc_ = platform::Crc32(crc_, out, done);
  // The whole image has been read: it must be the one converted.
  if (error == 0 && done < n && expectedCrc_ && crc_ != *expectedCrc_) {
    error = platform::kContentChanged;
  }
  return done;
}

}  // namespace engine
