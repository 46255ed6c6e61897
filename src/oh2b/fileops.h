// The few file-system operations the converter needs, one implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace oh2b::fileops {

// errno on POSIX, GetLastError() on Windows; 0 means success.
using ErrorCode = unsigned long;

// True when path names something that exists and is not a directory.
bool FileExists(const std::string& path);

// Renames from to to, but never over an existing file of the name to.
bool RenameNoReplace(const std::string& from, const std::string& to);

// The system's text for an error, without trailing blanks, line ends or full stops.
std::string SystemErrorText(ErrorCode code);

// The process's current directory, or "" when it cannot be determined.
std::string CurrentDirectory();

// dir joined with name by the platform's separator; name alone when dir is "".
std::string PathInDirectory(const std::string& dir, const std::string& name);

// Memory straight from the system for buffers of megabytes: a HEX file read whole and
// the image's write buffer. Where the system offers large pages they are used, which
// spares one page fault per 4 KiB. Contents start undefined.
class MemoryBlock {
 public:
  MemoryBlock() = default;
  explicit MemoryBlock(std::size_t size);  // throws std::bad_alloc
  MemoryBlock(MemoryBlock&& other) noexcept { Swap(other); }
  MemoryBlock& operator=(MemoryBlock&& other) noexcept {
    MemoryBlock(std::move(other)).Swap(*this);
    return *this;
  }
  ~MemoryBlock();

  char* data() const { return data_; }
  std::size_t size() const { return size_; }
  void Swap(MemoryBlock& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }
  // Doubles the block, keeping its first used bytes.
  void Grow(std::size_t used) {
    MemoryBlock bigger(size_ * 2);
    std::memcpy(bigger.data(), data_, used);
    Swap(bigger);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Reads the whole file into block, its first length bytes. Others may read the file
// meanwhile, not write it.
ErrorCode ReadWholeFile(const std::string& path, MemoryBlock& block, std::size_t& length);

// A file created (or truncated) for reading and writing, shared with nobody.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // closes without reporting

  ErrorCode Create(const std::string& path);
  // Writes all size bytes at the current position.
  ErrorCode Write(const void* data, std::size_t size);
  ErrorCode Seek(std::uint64_t offset);
  ErrorCode Close();
  bool IsOpen() const { return handle_ != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};

}  // namespace oh2b::fileops
