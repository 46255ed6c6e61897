// The image file's reads, common to both platforms: the image is what the file held
// when it was opened, and any other length is an error rather than its end.
#include "engine/image_file.h"

#include <algorithm>

#include "oh2b/fileops.h"

namespace engine {

std::size_t ImageFile::Read(void* p, std::size_t n, ErrorCode& error) {
  auto* out = static_cast<char*>(p);
  const auto want =
      static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - std::min(position_, size_)));
  std::size_t done = 0;
  error = 0;
  while (done < want) {
    const std::size_t got = ReadSome(out + done, want - done, error);
    if (error != 0) break;
    if (got == 0) {
      error = oh2b::fileops::kSizeChanged;  // cut short after it was opened
      break;
    }
    done += got;
  }
  position_ += done;
  if (error == 0 && done < n) {
    // The image's end: the file must end here too, or it has grown since it was opened.
    char beyond;
    if (ReadSome(&beyond, 1, error) != 0) error = oh2b::fileops::kSizeChanged;
  }
  return done;
}

}  // namespace engine
