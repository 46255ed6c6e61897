// Windows file layer: paths are UTF-8 and go to the wide API.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "platform/file.h"
#include "platform/file_names.h"
#include "platform/utf8_win32.h"

namespace platform {

namespace {

HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

TErrorCode LastError() {
  return static_cast<TErrorCode>(::GetLastError());
}

std::wstring W(const std::string& path) {
  return Utf8ToWide(path);
}

}  // namespace

TFileKind KindOf(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(W(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return TFileKind::ftMissing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TFileKind::ftDirectory;
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? TFileKind::ftOther : TFileKind::ftRegular;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // MoveFileW never replaces an existing file of the new name.
  return ::MoveFileW(W(from).c_str(), W(to).c_str()) != 0;
}

TErrorCode RenameReplacing(const std::string& from, const std::string& to) {
  // Fails, with a sharing violation or access denied, while anyone holds the file of
  // the name to without sharing it for deletion: the transfer engine does so while it
  // sends that image.
  if (!::MoveFileExW(W(from).c_str(), W(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return LastError();
  return 0;
}

TErrorCode ReplaceFileContents(const std::string& path, std::string_view data) {
  const DWORD attributes = ::GetFileAttributesW(W(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (const TErrorCode error = LastError(); !IsNotFound(error)) return error;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return kIsDirectory;
  } else if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    return kNotRegularFile;
  } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return ERROR_ACCESS_DENIED;
  }
  const std::string name = FileNamePart(path);
  const std::string temp = path.substr(0, path.size() - name.size()) + "." + name + ".tmp";
  // Shared with nobody while it is written: another writer's open fails (a sharing
  // violation) instead of sharing it, and one left by an interrupted write is cut and reused.
  const HANDLE file = ::CreateFileW(W(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  TErrorCode error = 0;
  while (error == 0 && !data.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    DWORD done = 0;
    if (!::WriteFile(file, data.data(), piece, &done, nullptr)) {
      error = LastError();
    } else if (done == 0) {
      error = ERROR_DISK_FULL;
    }
    data.remove_prefix(done);
  }
  if (error == 0 && !::FlushFileBuffers(file)) error = LastError();
  ::CloseHandle(file);
  if (error == 0 && !::MoveFileExW(W(temp).c_str(), W(path).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastError();
  }
  if (error != 0) ::DeleteFileW(W(temp).c_str());
  return error;
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(W(path).c_str()) != 0;
}

// A file that CreateNew made is shared with nobody while it is open, so the system refuses
// to remove it until its writer has closed it or has gone.
bool RemoveUnheld(const std::string& path) {
  return ::DeleteFileW(W(path).c_str()) != 0;
}

bool NameTaken(TErrorCode code) {
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

std::string SystemMessage(TErrorCode code, std::size_t maxChars) {
  // The wide call: the narrow one answers in the ANSI code page, not in UTF-8.
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owned(buffer, &::LocalFree);
  std::wstring text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  if (text.size() > maxChars) {
    std::size_t cut = maxChars;
    if (cut > 0 && IS_HIGH_SURROGATE(text[cut - 1])) --cut;  // not half a character
    text.resize(cut);
  }
  while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) text.pop_back();
  return WideToUtf8(text);
}

TErrorCode NotFoundError() {
  return ERROR_FILE_NOT_FOUND;
}

bool IsNotFound(TErrorCode code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

std::string CurrentDirectory() {
  DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  while (size != 0) {
    std::wstring dir(size, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(size, dir.data());
    if (length == 0) break;
    if (length < size) {
      dir.resize(length);
      return WideToUtf8(dir);
    }
    size = length;  // the directory changed meanwhile and grew; try again
  }
  return {};
}

std::string MakePrivateFolder(const std::string& in) {
  // The user's temporary folder is the user's own; a fresh name per attempt, as
  // CreateDirectory fails on one that exists.
  std::wstring base;
  if (in.empty()) {
    base.assign(MAX_PATH + 1, L'\0');
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    if (length == 0 || length > base.size()) return {};
    base.resize(length);
  } else {
    base = Utf8ToWide(in);
    if (base.back() != L'\\' && base.back() != L'/') base += L'\\';
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path = base + L"loader-" + std::to_wstring(random());
    if (::CreateDirectoryW(path.c_str(), nullptr)) return WideToUtf8(path);
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return {};
}

TErrorCode LastErrorCode() {
  return ::GetLastError();
}

std::string PathInDirectory(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '\\' || dir.back() == '/') return dir + name;
  return dir + '\\' + name;
}

std::string_view NativePathDelimiters() {
  return kPathDelimiters;
}

TMemoryBlock::TMemoryBlock(std::size_t size) {
  if (size == 0) return;
  void* data = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (data == nullptr) throw std::bad_alloc();
  data_ = static_cast<char*>(data);
  size_ = size;
}

TMemoryBlock::~TMemoryBlock() {
  if (data_ != nullptr) ::VirtualFree(data_, 0, MEM_RELEASE);
}

TFile::~TFile() {
  if (IsOpen()) ::CloseHandle(Handle(handle_));
}

TErrorCode TFile::OpenToRead(const std::string& path, TShare share) {
  Close();
  // CreateFileW refuses a directory with "Access is denied"; say what it is instead. A
  // device is refused before it is opened: opening one can act on what it drives.
  switch (KindOf(path)) {
    case TFileKind::ftDirectory:
      return kIsDirectory;
    case TFileKind::ftOther:
      return kNotRegularFile;
    case TFileKind::ftMissing:
    case TFileKind::ftRegular:
      break;
  }
  const HANDLE file = ::CreateFileW(
      W(path).c_str(), GENERIC_READ, share == TShare::shReaders ? FILE_SHARE_READ : 0, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  // Pipes, consoles and devices such as NUL or COM1 open as files too.
  LARGE_INTEGER size;
  TErrorCode error = 0;
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

TErrorCode TFile::Read(void* data, std::size_t size, std::size_t& got) {
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD done = 0;
  got = 0;
  if (!::ReadFile(Handle(handle_), data, want, &done, nullptr)) return LastError();
  got = done;
  return 0;
}

TErrorCode TFile::CreateNew(const std::string& path) {
  Close();
  const HANDLE file = ::CreateFileW(W(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  handle_ = reinterpret_cast<std::intptr_t>(file);
  size_ = 0;
  return 0;
}

TErrorCode TFile::Write(const void* data, std::size_t size) {
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

TErrorCode TFile::Seek(std::uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(Handle(handle_), distance, nullptr, FILE_BEGIN)) return LastError();
  return 0;
}

TErrorCode TFile::Close() {
  if (!IsOpen()) return 0;
  const HANDLE file = Handle(handle_);
  handle_ = kNoHandle;
  if (!::CloseHandle(file)) return LastError();
  return 0;
}

}  // namespace platform
