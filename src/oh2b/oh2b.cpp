// Intel HEX to flat binary image conversion.
//
// The HEX file is read whole, then handled line by line at fixed character
// positions. The image is written through a buffer in one forward pass for files in
// ascending address order; a record below the image's end is written back at its
// own address. Gaps are filled with 0xFF.
//
// The image is built under a temporary name beside the image's own and renamed over it
// only when complete, so that a transfer reading the earlier image (maybe in another
// process) keeps the bytes it started with, and a failed conversion leaves no half image.
#include "oh2b/oh2b.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <string_view>

#include "platform/crc32.h"
#include "platform/file.h"
#include "platform/file_errors.h"
#include "platform/file_names.h"

namespace oh2b {

namespace {

constexpr std::uint8_t kBadDigit = 0x10;

constexpr std::array<std::uint8_t, 256> MakeHexTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& value : table) value = kBadDigit;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
  return table;
}

constexpr std::array<std::uint8_t, 256> kHexDigit = MakeHexTable();

[[noreturn]] void ThrowConvertError(std::string_view digits, std::string_view appended = {}) {
  std::string text = "$";
  text.append(digits);
  text.append(appended);
  throw EConvertError("'" + text + "' is not a valid integer value");
}

// Reads the hexadecimal field; appended only names the zeros that scale the value, so
// that an error message shows the whole text that was converted.
std::uint32_t ParseHex(std::string_view digits, std::string_view appended = {}) {
  std::uint32_t value = 0;
  for (const char c : digits) {
    const std::uint8_t digit = kHexDigit[static_cast<unsigned char>(c)];
    if (digit == kBadDigit) ThrowConvertError(digits, appended);
    value = (value << 4) | digit;
  }
  return value;
}

using platform::ChangeExtension;
using platform::FileNamePart;
using platform::ThrowCreateError;
using platform::ThrowOpenError;
using platform::ThrowWriteError;

// The caller's wish to stop, asked between pieces of work of a few milliseconds each.
class TCancelPoll {
 public:
  explicit TCancelPoll(const std::function<bool()>& cancelled) : cancelled_(cancelled) {}
  void operator()() const {
    if (cancelled_ && cancelled_()) throw EConvertCancelled("Conversion cancelled");
  }

 private:
  const std::function<bool()>& cancelled_;
};

// Text handled between two polls.
constexpr std::size_t kTextPerPoll = std::size_t{256} << 10;

constexpr std::string_view kTempPrefix = "~oh2b";
constexpr std::string_view kTempSuffix = ".tmp";

// Paths are UTF-8; a plain std::string would be read in the ANSI code page on Windows.
std::filesystem::path FolderPath(const std::string& folder) {
  if (folder.empty()) return ".";
  return platform::PathOf(folder);
}

// Removes what conversions killed outright left in the folder: only names of the
// converter's own form, and only files no live conversion holds.
void RemoveLeftTemporaries(const std::string& folder) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(FolderPath(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::u8string name8 = it->path().filename().u8string();
    const std::string name(name8.begin(), name8.end());
    if (name.size() == kTempPrefix.size() + 8 + kTempSuffix.size() &&
        name.starts_with(kTempPrefix) && name.ends_with(kTempSuffix) &&
        std::all_of(name.begin() + kTempPrefix.size(), name.end() - kTempSuffix.size(),
                    [](char c) { return kHexDigit[static_cast<unsigned char>(c)] != kBadDigit; })) {
      platform::RemoveUnheld(platform::PathInDirectory(folder, name));
    }
  }
}

// A new file under a name of its own in the folder, beside the image; returns its path.
std::string CreateTemporary(platform::TFile& file, const std::string& folder,
                            const std::string& imagePath) {
  // The clock keeps two processes apart where the random device is a fixed sequence.
  std::mt19937_64 random(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  constexpr int kAttempts = 100;
  platform::TErrorCode error = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    char name[32];
    // Of the form that RemoveLeftTemporaries looks for.
    std::snprintf(name, sizeof name, "~oh2b%08lx.tmp",
                  static_cast<unsigned long>(random() & 0xFFFFFFFFu));
    const std::string path = platform::PathInDirectory(folder, name);
    error = file.CreateNew(path);
    if (error == 0) return path;
    if (!platform::NameTaken(error)) break;
  }
  ThrowCreateError(imagePath, error);
}

// The image file behind a write buffer. The buffer holds a contiguous range of the
// image starting at bufStart_; writes go to pos_, which never lies beyond the end.
class TImageWriter {
 public:
  TImageWriter(platform::TFile& file, std::string path, const TCancelPoll& poll)
      : file_(file), path_(std::move(path)), poll_(poll), block_(kCapacity) {}

  std::uint64_t End() const { return end_; }

  // Moves the write position to offset, which is at most End().
  void SetPosition(std::uint64_t offset) {
    if (offset < bufStart_ || offset > bufStart_ + bufLen_) {
      Flush();
      bufStart_ = offset;
    }
    pos_ = offset;
  }

  void Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const std::size_t chunk = std::min(size, Room());
      std::memcpy(Cursor(), data, chunk);
      Advance(chunk);
      data += chunk;
      size -= chunk;
    }
  }

  // Appends count bytes of 0xFF at the end of the image.
  void Fill(std::uint64_t count) {
    SetPosition(end_);
    while (count > 0) {
      const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count, Room()));
      std::memset(Cursor(), 0xFF, chunk);
      Advance(chunk);
      count -= chunk;
    }
  }

  void Flush() {
    if (bufLen_ > 0) {
      // Written in order, the image is fingerprinted on its way out; a record written back
      // below what has left means reading the file again at the end.
      if (bufStart_ == crcEnd_ && !rewritten_) {
        crc_ = platform::Crc32(crc_, Buffer(), bufLen_);
        crcEnd_ += bufLen_;
      } else {
        rewritten_ = true;
      }
      if (filePos_ != bufStart_) Check(file_.Seek(bufStart_));
      Check(file_.Write(Buffer(), bufLen_));
      filePos_ = bufStart_ + bufLen_;
    }
    bufStart_ = pos_;
    bufLen_ = 0;
  }

  // Returns the image's CRC-32.
  std::uint32_t Close() {
    Flush();
    if (rewritten_) ReadBackCrc();
    Check(file_.Close());
    return crc_;
  }

 private:
  static constexpr std::size_t kCapacity = std::size_t{2} << 20;

  std::uint8_t* Buffer() { return reinterpret_cast<std::uint8_t*>(block_.data()); }
  std::size_t Room() {
    if (pos_ - bufStart_ == kCapacity) {
      poll_();  // a gap of gigabytes is filled one buffer at a time
      Flush();
    }
    return kCapacity - static_cast<std::size_t>(pos_ - bufStart_);
  }
  std::uint8_t* Cursor() { return Buffer() + (pos_ - bufStart_); }
  void Advance(std::size_t count) {
    pos_ += count;
    bufLen_ = std::max(bufLen_, static_cast<std::size_t>(pos_ - bufStart_));
    end_ = std::max(end_, pos_);
  }
  void Check(platform::TErrorCode error) {
    if (error != 0) ThrowWriteError(path_, error);
  }

  void ReadBackCrc() {
    crc_ = 0;
    Check(file_.Seek(0));
    for (std::uint64_t done = 0; done < end_;) {
      poll_();
      std::size_t got = 0;
      Check(file_.Read(Buffer(),
                       static_cast<std::size_t>(std::min<std::uint64_t>(kCapacity, end_ - done)),
                       got));
      if (got == 0) Check(platform::kSizeChanged);
      crc_ = platform::Crc32(crc_, Buffer(), got);
      done += got;
    }
  }

  platform::TFile& file_;
  std::string path_;
  const TCancelPoll& poll_;
  platform::TMemoryBlock block_;
  std::uint64_t bufStart_ = 0;  // image offset of the buffer's first byte
  std::size_t bufLen_ = 0;      // bytes of the buffer that hold image data
  std::uint64_t pos_ = 0;       // where the next byte goes
  std::uint64_t end_ = 0;       // the image's length so far
  std::uint64_t filePos_ = 0;   // the file's own position, to spare seeks
  std::uint32_t crc_ = 0;       // of the image's first crcEnd_ bytes
  std::uint64_t crcEnd_ = 0;
  bool rewritten_ = false;  // crc_ no longer follows the file
};

// A record with no data: mark, byte count, address, type and checksum.
constexpr std::size_t kEmptyRecordLength = 11;

class TConverter {
 public:
  TConverter(const std::string& hexPath, TImageWriter& image, const TCancelPoll& poll,
             bool checkRecords)
      : hexPath_(hexPath), image_(image), poll_(poll), checkRecords_(checkRecords) {}

  // text holds no NUL: the whole-file read ends it at the first.
  void HandleText(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    std::size_t nextPoll = 0;
    try {
      while (p != end) {
        if (const auto done = static_cast<std::size_t>(p - text.data()); done >= nextPoll) {
          poll_();
          nextPoll = done + kTextPerPoll;
        }
        const char* lineEnd = p;
        while (lineEnd != end && *lineEnd != '\r' && *lineEnd != '\n') ++lineEnd;
        ++lineNumber_;
        HandleLine(std::string_view(p, static_cast<std::size_t>(lineEnd - p)));
        p = lineEnd;
        if (p != end && *p++ == '\r' && p != end && *p == '\n') ++p;
      }
    } catch (const EConvertError& e) {
      // The field parser knows no lines; the text stays the same, the line comes along.
      throw EConvertError(e.what(), lineNumber_);
    }
  }

  // After the last line of text: what a file cut short shows. A text without any record
  // is no HEX file cut short but no HEX at all, which the caller judges by its empty image.
  // cutAtNul: the file went on past a NUL byte, where text ends.
  void FinishText(std::string_view text, bool cutAtNul) {
    if (!recordSeen_) return;
    if (cutAtNul) {
      const bool atLineStart = text.empty() || text.back() == '\n' || text.back() == '\r';
      Found(TFindingKind::fkNulByte, atLineStart ? lineNumber_ + 1 : lineNumber_);
    }
    if (!endRecordSeen_) Found(TFindingKind::fkNoEndRecord, lineNumber_);
  }

  const std::optional<TRecordFinding>& Finding() const { return finding_; }

 private:
  // A record that a blank, a tab or a byte-order mark puts off its first position, where
  // the conversion looks for the record mark, is skipped as no record at all.
  static std::optional<TFindingKind> DisplacedRecord(std::string_view line) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::optional<TFindingKind> kind;
    if (line.starts_with(' ')) {
      kind = TFindingKind::fkLeadingBlank;
    } else if (line.starts_with('\t')) {
      kind = TFindingKind::fkLeadingTab;
    } else if (line.starts_with(kByteOrderMark)) {
      kind = TFindingKind::fkByteOrderMark;
    } else {
      return std::nullopt;
    }
    for (;;) {
      if (line.starts_with(kByteOrderMark)) {
        line.remove_prefix(kByteOrderMark.size());
      } else if (line.starts_with(' ') || line.starts_with('\t')) {
        line.remove_prefix(1);
      } else {
        break;
      }
    }
    if (!line.starts_with(':')) return std::nullopt;
    return kind;
  }

  // Under the checks a finding stops the conversion; without them the first is kept.
  void Found(TFindingKind kind, unsigned long line) {
    if (checkRecords_) {
      lineNumber_ = std::max(line, 1ul);
      ThrowCheck(FindingText(kind));
    }
    if (!finding_) finding_ = TRecordFinding{std::max(line, 1ul), kind};
  }

  void HandleLine(std::string_view line) {
    if (const auto displaced = DisplacedRecord(line)) {
      recordSeen_ = true;
      Found(*displaced, lineNumber_);
    }
    if (!line.empty() && line[0] == ':') recordSeen_ = true;
    const bool check = checkRecords_ && !line.empty() && line[0] == ':';
    if (check) CheckLength(line);
    // Positions are counted from 1 in the record layout; line[k - 1] is position k.
    if (line.size() < 9) {
      // Blank lines, a trailing Ctrl-Z and the like carry nothing; a short record
      // would have to be read past its end.
      if (line.empty() || line[0] != ':') return;
      ThrowTooShort();
    }
    const std::uint32_t type = ParseHex(line.substr(7, 2));
    if (line[0] != ':') return;
    switch (type) {
      case 0x00: {
        const std::uint32_t recordSum = HandleData(line);
        if (check) CheckSum(line, &recordSum);
        if (!checkRecords_) NoteSum(line, &recordSum);
        return;
      }
      case 0x02:
        RequireLength(line, 13);
        baseAddress_ = ParseHex(line.substr(9, 4), "0") << 4;
        break;
      case 0x04:
        RequireLength(line, 13);
        baseAddress_ = ParseHex(line.substr(9, 4), "0000") << 16;
        break;
      case 0x01:
        endRecordSeen_ = true;  // and nothing else: records after it are still converted
        break;
      default:
        break;  // start addresses and the rest change nothing
    }
    if (check) CheckSum(line, nullptr);
    if (!checkRecords_) NoteSum(line, nullptr);
  }

  // Without the checks a wrong checksum converts, but the first one is kept for a caller
  // that asks the operator. Only a record whose length matches its byte count has its
  // checksum where the checks read it; a digit that is no digit is no checksum to judge.
  void NoteSum(std::string_view line, const std::uint32_t* recordSum) {
    if (finding_ || line.size() < kEmptyRecordLength) return;
    const int count = QuietPair(line.substr(1, 2));
    if (count < 0 || line.size() != kEmptyRecordLength + 2 * static_cast<std::size_t>(count))
      return;
    const std::size_t checksumAt = line.size() - 2;
    std::uint32_t sum = 0;
    if (recordSum != nullptr) {
      sum = *recordSum;
    } else {
      for (std::size_t i = 1; i < checksumAt; i += 2) {
        const int pair = QuietPair(line.substr(i, 2));
        if (pair < 0) return;
        sum += static_cast<std::uint32_t>(pair);
      }
    }
    const int checksum = QuietPair(line.substr(checksumAt, 2));
    if (checksum < 0 || ((sum + static_cast<std::uint32_t>(checksum)) & 0xFF) == 0) return;
    TRecordFinding finding{lineNumber_, TFindingKind::fkChecksum};
    finding.checksum = static_cast<std::uint8_t>(checksum);
    finding.wanted = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    finding_ = finding;
  }

  // A digit pair's value, or -1 when either is no hexadecimal digit.
  static int QuietPair(std::string_view pair) {
    const std::uint8_t high = kHexDigit[static_cast<unsigned char>(pair[0])];
    const std::uint8_t low = kHexDigit[static_cast<unsigned char>(pair[1])];
    if (((high | low) & kBadDigit) != 0) return -1;
    return (high << 4) | low;
  }

  // Before the record is converted, so that no field is read from past its end and a
  // line cut short or run together with the next is named as such.
  void CheckLength(std::string_view line) {
    if (line.size() < kEmptyRecordLength) {
      ThrowCheck("record too short: " + std::to_string(line.size()) + " of at least " +
                 std::to_string(kEmptyRecordLength) + " characters");
    }
    const std::uint32_t count = SumPairs(line.substr(1, 2));
    const std::size_t needed = kEmptyRecordLength + 2 * std::size_t{count};
    if (line.size() != needed) {
      char hexCount[8];
      std::snprintf(hexCount, sizeof hexCount, "0x%02X", static_cast<unsigned>(count));
      ThrowCheck("byte count " + std::string(hexCount) + " needs " + std::to_string(needed) +
                 " characters, the line has " + std::to_string(line.size()));
    }
  }

  // After the record is converted, so that a bad digit in a converted field keeps the
  // converter's own text. recordSum: the sum of the bytes before the checksum, when the
  // conversion has added them up already. The length has been checked: the checksum is
  // the last pair.
  void CheckSum(std::string_view line, const std::uint32_t* recordSum) {
    const std::size_t checksumAt = line.size() - 2;
    const std::uint32_t sum =
        recordSum != nullptr ? *recordSum : SumPairs(line.substr(1, checksumAt - 1));
    const std::uint32_t checksum = SumPairs(line.substr(checksumAt, 2));
    if (((sum + checksum) & 0xFF) != 0) {
      TRecordFinding finding{lineNumber_, TFindingKind::fkChecksum};
      finding.checksum = static_cast<std::uint8_t>(checksum);
      finding.wanted = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
      ThrowCheck(FindingDetail(finding));
    }
  }

  // The sum of the bytes written as digit pairs; a pair that is no hexadecimal number
  // stops with the conversion error. One test for all pairs: this runs for every line.
  static std::uint32_t SumPairs(std::string_view digits) {
    std::uint32_t sum = 0;
    std::uint8_t bad = 0;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
      const std::uint8_t high = kHexDigit[static_cast<unsigned char>(digits[i])];
      const std::uint8_t low = kHexDigit[static_cast<unsigned char>(digits[i + 1])];
      bad |= high | low;
      sum += (std::uint32_t{high} << 4) + low;
    }
    if ((bad & kBadDigit) != 0) {
      for (std::size_t i = 0; i + 1 < digits.size(); i += 2) ParseHex(digits.substr(i, 2));
    }
    return sum;
  }

  [[noreturn]] void ThrowCheck(const std::string& detail) {
    throw ERecordCheckError(
        "Line " + std::to_string(lineNumber_) + " of \"" + hexPath_ + "\": " + detail, lineNumber_,
        detail);
  }

  // Returns the sum of the record's bytes before the checksum (the type, 0, adds nothing),
  // so that checking it costs no second reading of the digits.
  std::uint32_t HandleData(std::string_view line) {
    const std::uint32_t address = ParseHex(line.substr(3, 4));
    const std::uint64_t target = std::uint64_t{baseAddress_} + address;
    if (target > image_.End()) {
      image_.Fill(target - image_.End());
    } else {
      // Below the end: the record belongs at its own address, not after what
      // is already there.
      image_.SetPosition(target);
    }
    const std::uint32_t count = ParseHex(line.substr(1, 2));
    RequireLength(line, 9 + 2 * std::size_t{count});
    std::array<std::uint8_t, 255> bytes;
    const char* digits = line.data() + 9;
    std::uint32_t sum = count + (address >> 8) + (address & 0xFF);
    for (std::uint32_t i = 0; i < count; ++i, digits += 2) {
      const std::uint8_t high = kHexDigit[static_cast<unsigned char>(digits[0])];
      const std::uint8_t low = kHexDigit[static_cast<unsigned char>(digits[1])];
      if (((high | low) & kBadDigit) != 0) ThrowConvertError(std::string_view(digits, 2));
      bytes[i] = static_cast<std::uint8_t>((high << 4) | low);
      sum += bytes[i];
    }
    image_.Write(bytes.data(), count);
    return sum;
  }

  void RequireLength(std::string_view line, std::size_t length) {
    if (line.size() < length) ThrowTooShort();
  }

  [[noreturn]] void ThrowTooShort() {
    throw ERecordError("Line " + std::to_string(lineNumber_) + " of \"" + hexPath_ +
                           "\" is too short for its record",
                       lineNumber_, "record too short for its type");
  }

  const std::string& hexPath_;
  TImageWriter& image_;
  const TCancelPoll& poll_;
  const bool checkRecords_;
  std::uint32_t baseAddress_ = 0;
  unsigned long lineNumber_ = 0;
  bool recordSeen_ = false;
  bool endRecordSeen_ = false;
  std::optional<TRecordFinding> finding_;
};

}  // namespace

const char* FindingText(TFindingKind kind) {
  switch (kind) {
    case TFindingKind::fkNoEndRecord:
      return "no end-of-file record";
    case TFindingKind::fkNulByte:
      return "NUL byte; the text ends here";
    case TFindingKind::fkLeadingBlank:
      return "record begins with a blank";
    case TFindingKind::fkLeadingTab:
      return "record begins with a tab";
    case TFindingKind::fkByteOrderMark:
      return "record begins with a UTF-8 byte-order mark";
    case TFindingKind::fkChecksum:
      return "checksum";
  }
  return "";
}

std::string FindingDetail(const TRecordFinding& finding) {
  if (finding.kind != TFindingKind::fkChecksum) return FindingText(finding.kind);
  char detail[64];
  std::snprintf(detail, sizeof detail, "checksum 0x%02X, the record sums to 0x%02X",
                static_cast<unsigned>(finding.checksum), static_cast<unsigned>(finding.wanted));
  return detail;
}

std::string HexToBin(const std::string& hexPath, const std::string& folder,
                     const THexOptions& options) {
  return ConvertHex(hexPath, folder, options).path;
}

TConvertedImage ConvertHex(const std::string& hexPath, const std::string& folder,
                           const THexOptions& options) {
  const TCancelPoll poll(options.cancelled);
  // The HEX file is read completely before the image is named or touched, so a HEX
  // file that bears the image's own name is safe. Only a path that names nothing means
  // "no file"; one that cannot be reached (a link loop, a folder closed to us) is an error
  // that says why, as are folders and anything else that is no regular file.
  platform::TWholeFile hex;
  if (const platform::TErrorCode error = platform::ReadWholeFile(hexPath, hex, [&] { poll(); });
      error != 0) {
    if (platform::IsNotFound(error)) return {};
    ThrowOpenError(hexPath, error);
  }

  const std::string imageName = ChangeExtension(FileNamePart(hexPath), ".BIN");
  const std::string imagePath = platform::PathInDirectory(folder, imageName);
  RemoveLeftTemporaries(folder);
  platform::TFile file;
  const std::string temporary = CreateTemporary(file, folder, imagePath);
  TConvertedImage result;
  try {
    TImageWriter image(file, imagePath, poll);
    TConverter converter(hexPath, image, poll, options.checkRecords);
    converter.HandleText(hex.text);
    converter.FinishText(hex.text, hex.cutAtNul);
    result.finding = converter.Finding();
    platform::TMemoryBlock().Swap(hex.block);
    result.size = image.End();
    result.crc32 = image.Close();
    poll();  // the last moment at which stopping still leaves everything as it was

    const platform::TFileKind earlier = platform::KindOf(imagePath);
    if (earlier != platform::TFileKind::ftMissing && earlier != platform::TFileKind::ftDirectory) {
      // Keeps an earlier image unless a backup exists already; then it is replaced.
      platform::RenameNoReplace(imagePath, ChangeExtension(imagePath, ".BAK"));
    }
    if (const platform::TErrorCode error = platform::RenameReplacing(temporary, imagePath);
        error != 0) {
      ThrowCreateError(imagePath, error);
    }
  } catch (...) {
    file.Close();
    platform::RemoveFile(temporary);
    throw;
  }
  result.path = imagePath;
  return result;
}

}  // namespace oh2b
