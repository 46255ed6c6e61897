// The few file-system operations the converter needs, one implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Reads the whole file into contents. Others may read the file meanwhile, not write it.
ErrorCode ReadWholeFile(const std::string& path, std::string& contents);

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
