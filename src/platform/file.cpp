// The parts of the file layer that are the same on every platform.
#include "platform/file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace platform {

namespace {

// Read at once between two calls of the caller's hook.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

}  // namespace

std::string SystemErrorText(TErrorCode code) {
  if (const char* own = OwnErrorText(code)) return own;
  std::string text = SystemMessage(code);
  if (text.empty()) return "System error " + std::to_string(code);
  return text;
}

TErrorCode ReadWholeFile(const std::string& path, TWholeFile& whole,
                         const std::function<void()>& beforePiece) {
  whole = TWholeFile();
  TFile file;
  if (const TErrorCode error = file.OpenToRead(path); error != 0) return error;
  if (file.Size() >= SIZE_MAX) return kOutOfMemory;
  const auto size = static_cast<std::size_t>(file.Size());
  try {
    TMemoryBlock(size).Swap(whole.block);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  char* const data = whole.block.data();
  std::size_t used = 0;
  while (used < size) {
    if (beforePiece) beforePiece();
    std::size_t got = 0;
    if (const TErrorCode error = file.Read(data + used, std::min(kReadPiece, size - used), got);
        error != 0) {
      return error;
    }
    if (got == 0) break;  // cut short meanwhile: the text ends where the file now does
    if (const void* nul = std::memchr(data + used, '\0', got)) {
      whole.text = {data, static_cast<std::size_t>(static_cast<const char*>(nul) - data)};
      whole.cutAtNul = true;
      return 0;
    }
    used += got;
  }
  whole.text = {data, used};
  return 0;
}

}  // namespace platform
