// Intel HEX to flat binary image conversion.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/file_errors.h"

namespace oh2b {

// An error at one line of the HEX file. what() is the text the window shows; Line()
// (counted from 1) and Detail() let a console tool print it as "file:line: detail".
class EHexLineError : public std::runtime_error {
 public:
  EHexLineError(const std::string& message, unsigned long line, std::string detail)
      : std::runtime_error(message), line_(line), detail_(std::move(detail)) {}
  unsigned long Line() const noexcept { return line_; }
  const std::string& Detail() const noexcept { return detail_; }

 private:
  unsigned long line_;
  std::string detail_;
};

// A field that is not a hexadecimal number: "'%s' is not a valid integer value".
class EConvertError : public EHexLineError {
 public:
  explicit EConvertError(const std::string& message, unsigned long line = 0)
      : EHexLineError(message, line, message) {}
};
// The HEX file exists but cannot be read, or is no regular file:
// "Cannot open file "%s". %s". The image file cannot be created or put in place:
// "Cannot create file "%s". %s". Writing the image failed: "Cannot write file "%s". %s".
// The transfer engine raises the first for an image it cannot open.
using platform::EFCreateError;
using platform::EFOpenError;
using platform::EWriteError;

// A record line too short for the positions its handling reads:
// "Line %d of "%s" is too short for its record" (line number, HEX file path).
class ERecordError : public EHexLineError {
 public:
  using EHexLineError::EHexLineError;
};
// A record that fails the checks of THexOptions::checkRecords, its detail one of
// "record too short: %d of at least 11 characters",
// "byte count 0x%02X needs %d characters, the line has %d",
// "checksum 0x%02X, the record sums to 0x%02X" (the checksum that the rest calls for);
// what() is "Line %d of "%s": " (line number, HEX file path) and the detail.
class ERecordCheckError : public EHexLineError {
 public:
  using EHexLineError::EHexLineError;
};

// The caller asked the conversion to stop: "Conversion cancelled".
class EConvertCancelled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct THexOptions {
  // Checks each record before converting it: its length against its byte count, and its
  // checksum. The loader's own rules check neither (a hand-edited file converts), so
  // this is off unless asked for.
  bool checkRecords = false;
  // When given, asked every few milliseconds of work; once it returns true the
  // conversion stops with EConvertCancelled.
  std::function<bool()> cancelled;
};

// Converts the HEX file at hexPath into "<name>.BIN" in the current directory and
// returns that name (no directory), or "" when hexPath names nothing at all (no such
// file, or a folder on its way missing); a path that cannot be reached is EFOpenError.
//
// The image appears under its name only when it is complete: a reader that opened an
// earlier image keeps reading the earlier bytes, and a failed conversion leaves the
// name as it was. The HEX text ends at its first NUL byte and at the size the file had
// when it was opened. Errors at a line of the HEX file carry its number (EHexLineError).
std::string HexToBin(const std::string& hexPath, const THexOptions& options);
std::string HexToBin(const std::string& hexPath, const std::function<bool()>& cancelled = {});

}  // namespace oh2b
