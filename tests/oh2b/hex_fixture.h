// A fresh temporary directory per test, made the current directory for the test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "oh2b/oh2b.h"
#include "test_support.h"

namespace oh2b::test {

namespace fs = std::filesystem;

using testsupport::HexRecord;
using testsupport::ReadFile;
using testsupport::WriteFile;

inline std::string Fill(std::size_t count) {
  return std::string(count, '\xFF');
}

// The conversions of these tests write into the test's own folder, which is also the
// current directory; they give back the image's name in it (its whole path if elsewhere).
inline std::string NameInCurrentDirectory(const std::string& path) {
  const std::string folder = fs::current_path().string();
  if (path.size() > folder.size() + 1 && path.starts_with(folder)) {
    return path.substr(folder.size() + 1);
  }
  return path;
}
inline TConvertedImage ConvertHex(const std::string& hexPath, const THexOptions& options) {
  TConvertedImage image = oh2b::ConvertHex(hexPath, fs::current_path().string(), options);
  image.path = NameInCurrentDirectory(image.path);
  return image;
}
inline std::string HexToBin(const std::string& hexPath, const THexOptions& options = {}) {
  return ConvertHex(hexPath, options).path;
}
inline std::string HexToBin(const std::string& hexPath, const std::function<bool()>& cancelled) {
  return HexToBin(hexPath, THexOptions{false, cancelled});
}

class TempDirTest : public ::testing::Test {
 protected:
  TempDirTest() { fs::create_directory(dir_ / "in"); }

  // Writes a HEX file into a folder of its own, away from the current directory.
  std::string PutHex(const std::string& text, const std::string& name = "app.hex") {
    const fs::path path = dir_ / "in" / name;
    WriteFile(path, text);
    return path.string();
  }

  // The names in the current directory: shows that no temporary file is left behind.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  testsupport::TTempWorkDir work_{"oh2b-test"};
  const fs::path dir_ = work_.Path();
};

}  // namespace oh2b::test
