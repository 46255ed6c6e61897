// Scaffolding shared by the tests and benchmarks: private temporary folders, whole-file
// reads and writes, and Intel HEX for a given image. No GoogleTest, no Qt: the benchmarks
// and the cross-built tests use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
 public:
  explicit TTempDir(const std::string& prefix = "loader-test");
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // Canonical, so that it compares equal to paths the code under test builds from it.
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// A fresh temporary folder that is the current directory for its life; the previous
// current directory comes back before the folder goes.
class TTempWorkDir : public TTempDir {
 public:
  explicit TTempWorkDir(const std::string& prefix = "loader-test");
  ~TTempWorkDir();

 private:
  std::filesystem::path previous_;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Replaces the file with `bytes`; throws std::runtime_error naming it when that fails.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// One Intel HEX record with its checksum, without a line end.
std::string HexRecord(std::uint16_t address, std::uint8_t type,
                      const std::vector<std::uint8_t>& data);

// Intel HEX for an image that begins at address 0: data records of `recordSize` bytes (a
// divisor of 64 KiB), an extended linear address record (type 04) before each 64 KiB after the
// first, the end-of-file record last, lines ended by CR LF.
std::string IntelHex(const std::vector<std::uint8_t>& image, std::size_t recordSize = 16);

}  // namespace testsupport
