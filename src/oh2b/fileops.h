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

// The layer's own refusals. Bit 29 marks codes that the system never uses (Windows
// reserves it for applications; errno values are small), so they never meet a real one.
inline constexpr ErrorCode kIsDirectory = 0x20000001;
inline constexpr ErrorCode kNotRegularFile = 0x20000002;
inline constexpr ErrorCode kOutOfMemory = 0x20000003;
inline constexpr ErrorCode kSizeChanged = 0x20000004;

// The text of one of the layer's own codes, or nullptr for a system error.
inline const char* OwnErrorText(ErrorCode code) {
  switch (code) {
    case kIsDirectory:
      return "Is a directory";
    case kNotRegularFile:
      return "Is not a regular file";
    case kOutOfMemory:
      return "Not enough memory";
    case kSizeChanged:
      return "The file changed its size while it was read";
    default:
      return nullptr;
  }
}

// What a path names, following symbolic links.
enum class FileKind { kMissing, kRegular, kDirectory, kOther };
FileKind KindOf(const std::string& path);

// Renames from to to, but never over an existing file of the name to.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Renames from to to in one step, replacing whatever bears the name to: a file that
// is a symbolic link is replaced, never written through. A reader that has the
// earlier file open keeps reading the earlier bytes.
ErrorCode RenameReplacing(const std::string& from, const std::string& to);

// Removes a file; false when it cannot.
bool RemoveFile(const std::string& path);

// True when the error says that a file of that name exists already.
bool NameTaken(ErrorCode code);

// The system's text for an error (or the layer's own), without trailing blanks, line
// ends or full stops.
std::string SystemErrorText(ErrorCode code);

// The process's current directory, or "" when it cannot be determined.
std::string CurrentDirectory();

// dir joined with name by the platform's separator; name alone when dir is "".
std::string PathInDirectory(const std::string& dir, const std::string& name);

// Memory straight from the system for buffers of megabytes: a HEX file read whole and
// the image's write buffer. Where the system offers large pages they are used, which
// spares one page fault per 4 KiB. Pages are backed only once they are touched, so a
// block as large as a sparse file costs what is written into it. Contents start
// undefined.
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

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// A HEX file open for reading: others may read it meanwhile, not write it.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens a regular file without ever waiting for a writer (a FIFO could block the
  // open for good); anything else is refused with kIsDirectory or kNotRegularFile.
  ErrorCode Open(const std::string& path);
  // The size when the file was opened.
  std::uint64_t Size() const { return size_; }
  // Reads up to size bytes into data; got is 0 at the end of the file.
  ErrorCode Read(void* data, std::size_t size, std::size_t& got);

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
  std::uint64_t size_ = 0;
};

// A file created new for reading and writing, shared with nobody.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // closes without reporting

  // Fails when a file of the name exists already (NameTaken).
  ErrorCode CreateNew(const std::string& path);
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
