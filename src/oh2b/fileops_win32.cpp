// Windows file layer of the converter: paths are UTF-8 and go to the wide API.
#include <windows.h>

#include <cstring>
#include <new>
#include <string>

#include "oh2b/fileops.h"
#include "platform/utf8_win32.h"

namespace oh2b::fileops {

namespace {

HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

ErrorCode LastError() {
  return static_cast<ErrorCode>(::GetLastError());
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(platform::Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // MoveFileW never replaces an existing file of the new name.
  return ::MoveFileW(platform::Utf8ToWide(from).c_str(), platform::Utf8ToWide(to).c_str()) != 0;
}

std::string SystemErrorText(ErrorCode code) {
  return platform::SystemErrorText(static_cast<unsigned long>(code));
}

std::string CurrentDirectory() {
  DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  while (size != 0) {
    std::wstring dir(size, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(size, dir.data());
    if (length == 0) break;
    if (length < size) {
      dir.resize(length);
      return platform::WideToUtf8(dir);
    }
    size = length;  // the directory changed meanwhile and grew; try again
  }
  return {};
}

std::string PathInDirectory(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '\\' || dir.back() == '/') return dir + name;
  return dir + '\\' + name;
}

MemoryBlock::MemoryBlock(std::size_t size) {
  if (size == 0) return;
  void* data = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (data == nullptr) throw std::bad_alloc();
  data_ = static_cast<char*>(data);
  size_ = size;
}

MemoryBlock::~MemoryBlock() {
  if (data_ != nullptr) ::VirtualFree(data_, 0, MEM_RELEASE);
}

ErrorCode ReadWholeFile(const std::string& path, MemoryBlock& block, std::size_t& length) {
  length = 0;
  const HANDLE file =
      ::CreateFileW(platform::Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  LARGE_INTEGER size;
  std::size_t expected = 0;
  if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    expected = static_cast<std::size_t>(size.QuadPart);
  }
  MemoryBlock buffer(expected + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == buffer.size()) buffer.Grow(used);
    const std::size_t room = buffer.size() - used;
    const DWORD want = room > 0x40000000u ? 0x40000000u : static_cast<DWORD>(room);
    DWORD got = 0;
    if (!::ReadFile(file, buffer.data() + used, want, &got, nullptr)) {
      const ErrorCode error = LastError();
      ::CloseHandle(file);
      return error;
    }
    if (got == 0) break;
    used += got;
  }
  ::CloseHandle(file);
  block.Swap(buffer);
  length = used;
  return 0;
}

OutputFile::~OutputFile() {
  if (IsOpen()) ::CloseHandle(Handle(handle_));
}

ErrorCode OutputFile::Create(const std::string& path) {
  const HANDLE file =
      ::CreateFileW(platform::Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return 0;
}

ErrorCode OutputFile::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!::WriteFile(Handle(handle_), p, chunk, &done, nullptr)) return LastError();
    if (done == 0) return ERROR_DISK_FULL;
    p += done;
    size -= done;
  }
  return 0;
}

ErrorCode OutputFile::Seek(std::uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(Handle(handle_), distance, nullptr, FILE_BEGIN)) return LastError();
  return 0;
}

ErrorCode OutputFile::Close() {
  if (!IsOpen()) return 0;
  const HANDLE file = Handle(handle_);
  handle_ = kNoHandle;
  if (!::CloseHandle(file)) return LastError();
  return 0;
}

}  // namespace oh2b::fileops
