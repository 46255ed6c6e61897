// A fresh temporary directory per test, made the current directory for the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace oh2b::test {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const fs::path& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

inline std::string Fill(std::size_t count) {
  return std::string(count, '\xFF');
}

// One Intel HEX record with its checksum, without a line end.
inline std::string Record(std::uint32_t address, std::uint8_t type,
                          const std::vector<std::uint8_t>& data) {
  static const char* const digits = "0123456789ABCDEF";
  std::string line = ":";
  std::uint8_t sum = 0;
  auto put = [&](std::uint8_t byte) {
    line += digits[byte >> 4];
    line += digits[byte & 15];
    sum = static_cast<std::uint8_t>(sum + byte);
  };
  put(static_cast<std::uint8_t>(data.size()));
  put(static_cast<std::uint8_t>(address >> 8));
  put(static_cast<std::uint8_t>(address));
  put(type);
  for (const std::uint8_t byte : data) put(byte);
  put(static_cast<std::uint8_t>(-sum));
  return line;
}

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = fs::current_path();
    std::random_device random;
    for (;;) {
      dir_ = fs::temp_directory_path() / ("oh2b-test-" + std::to_string(random()));
      if (fs::create_directory(dir_)) break;
    }
    dir_ = fs::canonical(dir_);
    fs::create_directory(dir_ / "in");
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(saved_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes a HEX file into a folder of its own, away from the current directory.
  std::string PutHex(const std::string& text, const std::string& name = "app.hex") {
    const fs::path path = dir_ / "in" / name;
    WriteFile(path, text);
    return path.string();
  }

  fs::path dir_;
  fs::path saved_;
};

}  // namespace oh2b::test
