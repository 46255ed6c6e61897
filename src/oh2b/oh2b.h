// Intel HEX to flat binary image conversion.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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
// "checksum 0x%02X, the record sums to 0x%02X" (the checksum that the rest calls for),
// or one of the texts of TFindingKind below;
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

// What the record checks find beyond a record's own length and checksum: signs of a file
// cut short or of records that a plain conversion skips without a word.
enum class TFindingKind {
  fkNoEndRecord,    // "no end-of-file record": the file was cut at a line end
  fkNulByte,        // "NUL byte; the text ends here": the rest is not converted
  fkLeadingBlank,   // "record begins with a blank": the line is skipped as no record
  fkLeadingTab,     // "record begins with a tab"
  fkByteOrderMark,  // "record begins with a UTF-8 byte-order mark"
  fkChecksum,       // a record whose checksum does not match the rest of it
};
const char* FindingText(TFindingKind kind);

struct TRecordFinding {
  unsigned long line = 0;  // counted from 1; the last line for fkNoEndRecord
  TFindingKind kind = TFindingKind::fkNoEndRecord;
  // fkChecksum: the checksum the record carries, and the one the rest of it calls for.
  std::uint8_t checksum = 0;
  std::uint8_t wanted = 0;
};
// The finding as the checks word it: FindingText, or for a checksum
// "checksum 0x%02X, the record sums to 0x%02X".
std::string FindingDetail(const TRecordFinding& finding);

// A conversion's result.
struct TConvertedImage {
  std::string path;  // the image's path: its folder and name; "" when the HEX file names nothing
  std::uint64_t size = 0;
  std::uint32_t crc32 = 0;  // platform::Crc32 of the image's bytes
  // Without the record checks: the first of the findings above, which the checks would
  // have refused, for a caller that asks the operator.
  std::optional<TRecordFinding> finding;
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

// Converts the HEX file at hexPath into "<name>.BIN" in `folder` ("" is the current
// directory) and returns the image's path (folder and name), or "" when hexPath names
// nothing at all (no such file, or a folder on its way missing); a path that cannot be
// reached is EFOpenError.
//
// The image appears under its name only when it is complete: a reader that opened an
// earlier image keeps reading the earlier bytes, and a failed conversion leaves the
// name as it was. The HEX text ends at its first NUL byte and at the size the file had
// when it was opened. Errors at a line of the HEX file carry its number (EHexLineError).
std::string HexToBin(const std::string& hexPath, const std::string& folder,
                     const THexOptions& options = {});
// The same, with the image's size and CRC-32 and what the record checks would find.
TConvertedImage ConvertHex(const std::string& hexPath, const std::string& folder,
                           const THexOptions& options = {});

}  // namespace oh2b
