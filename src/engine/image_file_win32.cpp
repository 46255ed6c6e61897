// Windows layer of the image file: opened with no sharing at all.
#include <windows.h>

#include "engine/image_file.h"
#include "platform/utf8_win32.h"

namespace engine {

namespace {

HANDLE Handle(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

}  // namespace

ImageFile::~ImageFile() {
  if (handle_ != kNoHandle) ::CloseHandle(Handle(handle_));
}

ImageFile::ErrorCode ImageFile::Open(const std::string& path) {
  const HANDLE h =
      ::CreateFileW(platform::Utf8ToWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

ImageFile::ErrorCode ImageFile::NotFound() {
  return ERROR_FILE_NOT_FOUND;
}

std::uint64_t ImageFile::Size() const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(Handle(handle_), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t ImageFile::Read(void* p, std::size_t n, ErrorCode& error) {
  auto* out = static_cast<char*>(p);
  std::size_t done = 0;
  error = 0;
  while (done < n) {
    DWORD got = 0;
    if (!::ReadFile(Handle(handle_), out + done, static_cast<DWORD>(n - done), &got, nullptr)) {
      error = ::GetLastError();
      break;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace engine
