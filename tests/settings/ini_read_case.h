// A table row for reads of a hand-written INI file, and the test that runs it.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
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
// Names the row in test listings instead of dumping its bytes.
inline void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.label;
}

class IniReadTest : public ::testing::TestWithParam<ReadCase> {};

}  // namespace settings
