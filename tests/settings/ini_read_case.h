// A table row for reads of a hand-written INI file, and the test that runs it.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace settings {

struct ReadCase {
  const char* label;
  std::string file;
  const char* section;
  const char* key;
  const char* fallback;
  std::string expected;
};

class IniReadTest : public ::testing::TestWithParam<ReadCase> {};

}  // namespace settings
