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
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(h, &size)) {
    const ErrorCode error = ::GetLastError();
    ::CloseHandle(h);
    return error;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  position_ = 0;
  return 0;
}

ImageFile::ErrorCode ImageFile::NotFound() {
  return ERROR_FILE_NOT_FOUND;
}

std::size_t ImageFile::ReadSome(void* p, std::size_t n, ErrorCode& error) {
  error = 0;
  const DWORD want = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
  DWORD got = 0;
  if (!::ReadFile(Handle(handle_), p, want, &got, nullptr)) {
    error = ::GetLastError();
    return 0;
  }
  return got;
}

}  // namespace engine
