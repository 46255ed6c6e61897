// The image file's reads: the image is what the file held when it was opened, and any
// other length is an error rather than its end.
#include "engine/image_file.h"

#include <algorithm>

namespace engine {

TImageFile::ErrorCode TImageFile::Open(const std::string& path) {
  position_ = 0;
  return file_.OpenToRead(path, platform::TShare::kNobody);
}

std::size_t TImageFile::ReadSome(void* p, std::size_t n, ErrorCode& error) {
  std::size_t got = 0;
  error = file_.Read(p, n, got);
  return got;
}

std::size_t TImageFile::Read(void* p, std::size_t n, ErrorCode& error) {
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
  return done;
}

}  // namespace engine
