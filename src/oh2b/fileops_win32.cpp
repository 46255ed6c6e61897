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

std::wstring W(const std::string& path) {
  return platform::Utf8ToWide(path);
}

}  // namespace

FileKind KindOf(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(W(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::kMissing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileKind::kDirectory;
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? FileKind::kOther : FileKind::kRegular;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // MoveFileW never replaces an existing file of the new name.
  return ::MoveFileW(W(from).c_str(), W(to).c_str()) != 0;
}

ErrorCode RenameReplacing(const std::string& from, const std::string& to) {
  // Fails, with a sharing violation or access denied, while anyone holds the file of
  // the name to without sharing it for deletion: the transfer engine does so while it
  // sends that image.
  if (!::MoveFileExW(W(from).c_str(), W(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return LastError();
  return 0;
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(W(path).c_str()) != 0;
}

bool NameTaken(ErrorCode code) {
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

std::string SystemErrorText(ErrorCode code) {
  if (const char* own = OwnErrorText(code)) return own;
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

InputFile::~InputFile() {
  if (handle_ != kNoHandle) ::CloseHandle(Handle(handle_));
}

ErrorCode InputFile::Open(const std::string& path) {
  // CreateFileW refuses a directory with "Access is denied"; say what it is instead.
  if (KindOf(path) == FileKind::kDirectory) return kIsDirectory;
  const HANDLE file = ::CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  // Pipes, consoles and devices such as NUL or COM1 open as files too.
  LARGE_INTEGER size;
  ErrorCode error = 0;
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = kNotRegularFile;
  } else if (!::GetFileSizeEx(file, &size)) {
    error = LastError();
  }
  if (error != 0) {
    ::CloseHandle(file);
    return error;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  return 0;
}

ErrorCode InputFile::Read(void* data, std::size_t size, std::size_t& got) {
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD done = 0;
  got = 0;
  if (!::ReadFile(Handle(handle_), data, want, &done, nullptr)) return LastError();
  got = done;
  return 0;
}

OutputFile::~OutputFile() {
  if (IsOpen()) ::CloseHandle(Handle(handle_));
}

ErrorCode OutputFile::CreateNew(const std::string& path) {
  const HANDLE file = ::CreateFileW(W(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
