// A fresh temporary directory per test, made the current directory for the test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "test_support.h"

namespace oh2b::test {

namespace fs = std::filesystem;

using testsupport::HexRecord;
using testsupport::ReadFile;
using testsupport::WriteFile;

inline std::string Fill(std::size_t count) {
  return std::string(count, '\xFF');
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
