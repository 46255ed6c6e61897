// The file system as the converter, the transfer engine and the settings store use it: one
// implementation per platform, paths in UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// errno on POSIX, GetLastError() on Windows; 0 means success.
using TErrorCode = unsigned long;

// The layer's own refusals. Bit 29 marks codes that the system never uses (Windows
// reserves it for applications; errno values are small), so they never meet a real one.
inline constexpr TErrorCode kIsDirectory = 0x20000001;
inline constexpr TErrorCode kNotRegularFile = 0x20000002;
inline constexpr TErrorCode kOutOfMemory = 0x20000003;
inline constexpr TErrorCode kSizeChanged = 0x20000004;
inline constexpr TErrorCode kContentChanged = 0x20000005;
inline constexpr TErrorCode kNotDirectory = 0x20000006;

// The text of one of the layer's own codes, or nullptr for a system error.
inline const char* OwnErrorText(TErrorCode code) {
  switch (code) {
    case kIsDirectory:
      return "Is a directory";
    case kNotRegularFile:
      return "Is not a regular file";
    case kOutOfMemory:
      return "Not enough memory";
    case kSizeChanged:
      return "The file changed its size while it was read";
    case kContentChanged:
      return "The file changed while it was read";
    case kNotDirectory:
      return "Not a directory";
    default:
      return nullptr;
  }
}

// The system's own text for an error code (errno, GetLastError), cut to at most maxChars
// units (UTF-8 bytes on POSIX, UTF-16 units on Windows) but never inside a character,
// without trailing blanks, control characters or full stops; "" when the system has none.
// The serial component shows it cut to 256.
inline constexpr std::size_t kWholeText = static_cast<std::size_t>(-1);
std::string SystemMessage(TErrorCode code, std::size_t maxChars = kWholeText);

// The text for an error: the layer's own, or the system's (SystemMessage), or "System
// error N" when the system has none.
std::string SystemErrorText(TErrorCode code);

// The system's code for "no such file"; whether a code says that a path names nothing (no
// such file, or a folder on its way missing); and whether it says that a file of the name
// exists already.
TErrorCode NotFoundError();
bool IsNotFound(TErrorCode code);
bool NameTaken(TErrorCode code);

// What a path names, following symbolic links.
enum class TFileKind { ftMissing, ftRegular, ftDirectory, ftOther };
TFileKind KindOf(const std::string& path);

// Renames from to to, but never over an existing file of the name to.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Renames from to to in one step, replacing whatever bears the name to: a file that
// is a symbolic link is replaced, never written through. A reader that has the
// earlier file open keeps reading the earlier bytes.
TErrorCode RenameReplacing(const std::string& from, const std::string& to);

// Replaces what the file at path holds with data in one step, so that a failed or
// interrupted write never leaves it cut short or half written. The data goes to the
// temporary file ".<name>.tmp" beside it, created afresh and held while it is written
// (locked on POSIX, shared with nobody on Windows), so that two writers never share one and
// one left by an interrupted write is removed by the next; it is flushed to disk and then
// renamed over the file. On POSIX a symbolic link keeps naming the file it points at,
// which is the one replaced, and a replaced file keeps its mode. Refused:
// anything but a regular file under the name (kNotRegularFile) and a file its owner made
// read-only. On failure the file is as it was and no temporary file of ours is left.
TErrorCode ReplaceFileContents(const std::string& path, std::string_view data);

// Removes a file; false when it cannot.
bool RemoveFile(const std::string& path);

// Removes a file that TFile::CreateNew made, unless a live process holds it open (it is
// then still being written): what a process killed outright left behind. Never follows a
// symbolic link. False when it is held or cannot be removed.
bool RemoveUnheld(const std::string& path);

// The process's current directory, or "" when it cannot be determined.
std::string CurrentDirectory();

// A new, empty folder in `base` (by default the system's temporary folder) that only this
// user may enter, under a name no one else holds; "" when none can be made, with the reason
// in LastErrorCode(). The caller removes it.
std::string MakePrivateFolder(const std::string& base = {});

// The calling thread's last system error: errno on POSIX, GetLastError() on Windows.
TErrorCode LastErrorCode();

// dir joined with name by the platform's separator; name alone when dir is "".
std::string PathInDirectory(const std::string& dir, const std::string& name);

// Memory straight from the system for buffers of megabytes: a file read whole and the
// image's write buffer. Where the system offers large pages they are used, which spares
// one page fault per 4 KiB. Pages are backed only once they are touched, so a block as
// large as a sparse file costs what is written into it. Contents start undefined.
class TMemoryBlock {
 public:
  TMemoryBlock() = default;
  explicit TMemoryBlock(std::size_t size);  // throws std::bad_alloc
  TMemoryBlock(TMemoryBlock&& other) noexcept { Swap(other); }
  TMemoryBlock& operator=(TMemoryBlock&& other) noexcept {
    TMemoryBlock(std::move(other)).Swap(*this);
    return *this;
  }
  ~TMemoryBlock();

  char* data() const { return data_; }
  std::size_t size() const { return size_; }
  void Swap(TMemoryBlock& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Who else may open a file while it is open for reading. POSIX has no share modes; there
// the converter recreates an image only when a new start has released it.
enum class TShare {
  shReaders,  // others may read it meanwhile, not write it
  shNobody,   // nobody may open it: the image cannot change under a transfer
};

// One open file: either a regular file opened for reading, or a file created new for
// reading and writing and shared with nobody.
class TFile {
 public:
  TFile() = default;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  ~TFile();  // closes without reporting

  // Opens a regular file without ever waiting for a writer (a FIFO could block the open
  // for good); anything else is refused with kIsDirectory or kNotRegularFile.
  TErrorCode OpenToRead(const std::string& path, TShare share = TShare::shReaders);
  // Fails when a file of the name exists already (NameTaken). The file is held for as
  // long as it is open, so that RemoveUnheld leaves it alone.
  TErrorCode CreateNew(const std::string& path);
  bool IsOpen() const { return handle_ != kNoHandle; }

  // The size when the file was opened to read.
  std::uint64_t Size() const { return size_; }
  // Reads up to size bytes into data; got is 0 at the end of the file.
  TErrorCode Read(void* data, std::size_t size, std::size_t& got);
  // Writes all size bytes at the current position.
  TErrorCode Write(const void* data, std::size_t size);
  TErrorCode Seek(std::uint64_t offset);
  TErrorCode Close();

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
  std::uint64_t size_ = 0;
};

// A file read whole: its text up to its first NUL byte, in a block of its size.
struct TWholeFile {
  TMemoryBlock block;
  std::string_view text;
  bool cutAtNul = false;  // the file went on past a NUL byte
};

// Reads the regular file at path into whole. The text ends at the file's first NUL byte,
// so that a sparse file or one of zeros costs one piece, and at the size the file had
// when it was opened, so that a file that keeps growing costs no more than that. Before
// each piece of a megabyte, beforePiece (when given) may end the read by throwing.
// A file too large for memory fails with kOutOfMemory.
TErrorCode ReadWholeFile(const std::string& path, TWholeFile& whole,
                         const std::function<void()>& beforePiece = {});

}  // namespace platform
