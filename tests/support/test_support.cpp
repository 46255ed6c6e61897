#include "test_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

TTempDir::TTempDir(const std::string& prefix) {
  std::random_device seed;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0;; ++attempt) {
    const fs::path candidate =
        base / (prefix + "-" + std::to_string(seed()) + "-" + std::to_string(seed()));
    if (fs::create_directory(candidate)) {
      path_ = fs::canonical(candidate);
      return;
    }
    if (attempt > 100) throw std::runtime_error("cannot create a folder in " + base.string());
  }
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

TTempWorkDir::TTempWorkDir(const std::string& prefix)
    : TTempDir(prefix), previous_(fs::current_path()) {
  fs::current_path(Path());
}

TTempWorkDir::~TTempWorkDir() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

namespace {

void PutRecord(std::string& out, std::uint16_t address, std::uint8_t type, const std::uint8_t* data,
               std::size_t count) {
  static const char* const digits = "0123456789ABCDEF";
  std::uint8_t sum = 0;
  const auto put = [&](std::uint8_t byte) {
    out += digits[byte >> 4];
    out += digits[byte & 15];
    sum = static_cast<std::uint8_t>(sum + byte);
  };
  out += ':';
  put(static_cast<std::uint8_t>(count));
  put(static_cast<std::uint8_t>(address >> 8));
  put(static_cast<std::uint8_t>(address));
  put(type);
  for (std::size_t i = 0; i < count; ++i) put(data[i]);
  put(static_cast<std::uint8_t>(-sum));
}

}  // namespace

std::string HexRecord(std::uint16_t address, std::uint8_t type,
                      const std::vector<std::uint8_t>& data) {
  std::string line;
  PutRecord(line, address, type, data.data(), data.size());
  return line;
}

std::string IntelHex(const std::vector<std::uint8_t>& image, std::size_t recordSize) {
  std::string out;
  out.reserve(image.size() / recordSize * (2 * recordSize + 13) + image.size() / 65536 * 17 + 32);
  for (std::size_t at = 0; at < image.size(); at += recordSize) {
    if (at % 65536 == 0 && at > 0) {
      const std::uint8_t upper[2] = {static_cast<std::uint8_t>(at >> 24),
                                     static_cast<std::uint8_t>(at >> 16)};
      PutRecord(out, 0, 0x04, upper, 2);
      out += "\r\n";
    }
    PutRecord(out, static_cast<std::uint16_t>(at), 0x00, image.data() + at,
              std::min(recordSize, image.size() - at));
    out += "\r\n";
  }
  PutRecord(out, 0, 0x01, nullptr, 0);
  out += "\r\n";
  return out;
}

}  // namespace testsupport
