// Intel HEX to flat binary image conversion.
#pragma once

#include <stdexcept>
#include <string>

namespace oh2b {

// A field that is not a hexadecimal number: "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The HEX file exists but cannot be read: "Cannot open file "%s". %s".
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The image file cannot be created: "Cannot create file "%s". %s".
class EFCreateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// Writing the image failed: "Cannot write file "%s". %s".
class EWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A record line too short for the positions its handling reads:
// "Line %d of "%s" is too short for its record" (line number, HEX file path).
class ERecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Converts the HEX file at hexPath into "<name>.BIN" in the current directory and
// returns that name (no directory), or "" when hexPath names no existing file.
std::string HexToBin(const std::string& hexPath);

}  // namespace oh2b
