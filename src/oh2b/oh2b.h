// Intel HEX to flat binary image conversion.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace oh2b {

// A field that is not a hexadecimal number: "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The HEX file exists but cannot be read, or is no regular file:
// "Cannot open file "%s". %s".
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The image file cannot be created or put in place: "Cannot create file "%s". %s".
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

// The caller asked the conversion to stop: "Conversion cancelled".
class EConvertCancelled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Converts the HEX file at hexPath into "<name>.BIN" in the current directory and
// returns that name (no directory), or "" when hexPath names nothing at all.
//
// The image appears under its name only when it is complete: a reader that opened an
// earlier image keeps reading the earlier bytes, and a failed conversion leaves the
// name as it was. The HEX text ends at its first NUL byte and at the size the file had
// when it was opened.
//
// cancelled, when given, is asked every few milliseconds of work; once it returns
// true the conversion stops with EConvertCancelled.
std::string HexToBin(const std::string& hexPath, const std::function<bool()>& cancelled = {});

}  // namespace oh2b
