#include "window/status_text.h"

#include <cstdio>

#include "platform/hex_text.h"
#include "window/window_look.h"

namespace window {

namespace {

// Russian numerals take "байт" after 1 and 5-20, "байта" after 2-4 (but not 12-14).
const char* BytesWord(std::uint64_t n) {
  const auto lastTwo = n % 100;
  const auto last = n % 10;
  if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14)) return "байта";
  return "байт";
}

// What the device owed: "блок 3 (0x0180)", "команда страницы 0x0200", ...
std::string Awaited(const engine::TStopDetail& stop) {
  switch (stop.state) {
    case engine::tsAwaitDevice:
      return "включение устройства";
    case engine::tsAwaitHandshakeAck:
      return "рукопожатие";
    case engine::tsAwaitPageAck:
      return "команда страницы " + platform::HexText(stop.address, 4);
    case engine::tsAwaitBlockSum:
      return "блок " + std::to_string(stop.block) + " (" + platform::HexText(stop.address, 4) + ")";
    case engine::tsIdle:
      break;
  }
  return {};
}

// A text of the look with its "%s" places filled in order.
std::string Filled(const char* pattern, std::initializer_list<std::string> values) {
  std::string text = pattern;
  std::size_t from = 0;
  for (const std::string& value : values) {
    const std::size_t at = text.find("%s", from);
    if (at == std::string::npos) break;
    text.replace(at, 2, value);
    from = at + value.size();
  }
  return text;
}

const char* FindingWords(oh2b::TFindingKind kind) {
  switch (kind) {
    case oh2b::TFindingKind::fkNoEndRecord:
      return kNoEndRecordText;
    case oh2b::TFindingKind::fkNulByte:
      return kNulByteText;
    case oh2b::TFindingKind::fkLeadingBlank:
      return kLeadingBlankText;
    case oh2b::TFindingKind::fkLeadingTab:
      return kLeadingTabText;
    case oh2b::TFindingKind::fkByteOrderMark:
      return kByteOrderMarkText;
    case oh2b::TFindingKind::fkChecksum:
      return kChecksumText;
  }
  return "";
}

}  // namespace

std::string FinishedNotice(const std::string& fileName, std::uint64_t bytes, double seconds,
                           std::uint32_t crc32) {
  return FinishedNotice(fileName, bytes, seconds) + ", CRC-32 " + platform::HexText(crc32, 8);
}

std::string IdentityText(std::uint64_t bytes, std::uint32_t crc32) {
  std::string text = std::to_string(bytes) + " " + BytesWord(bytes) + ", ";
  if (bytes > 0) {
    // As wide as the last address needs, at least the device's four digits.
    int digits = 4;
    while (digits < 16 && ((bytes - 1) >> (4 * digits)) != 0) ++digits;
    text += platform::HexText(0, digits) + "–" + platform::HexText(bytes - 1, digits) + ", ";
  }
  return text + "CRC-32 " + platform::HexText(crc32, 8);
}

std::string StopDetail(const engine::TStopDetail& stop) {
  std::string text = Awaited(stop);
  if (stop.received) {
    text += (text.empty() ? "" : ", ") + std::string("ожидалось ") +
            platform::HexText(stop.expected, 2) + ", получено " +
            platform::HexText(stop.receivedByte, 2);
  }
  return text;
}

std::string FindingQuestion(const std::string& hexPath, const oh2b::TRecordFinding& finding) {
  std::string what = FindingWords(finding.kind);
  if (finding.kind == oh2b::TFindingKind::fkChecksum)
    what = Filled(kChecksumText,
                  {platform::HexText(finding.checksum, 2), platform::HexText(finding.wanted, 2)});
  return Filled(kFindingIntro, {hexPath, std::to_string(finding.line), what}) + "\n" +
         kFindingQuestion;
}

std::string FinishedNotice(const std::string& fileName, std::uint64_t bytes, double seconds) {
  char time[32];
  std::snprintf(time, sizeof time, "%.1f", seconds < 0 ? 0.0 : seconds);
  std::string decimal = time;
  if (auto dot = decimal.find('.'); dot != std::string::npos) decimal[dot] = ',';
  return "Загружено: " + fileName + ", " + std::to_string(bytes) + " " + BytesWord(bytes) + ", " +
         decimal + " с";
}

std::string StopReason(engine::TOutcome outcome, const engine::TStopDetail& stop) {
  const std::string what = Awaited(stop);
  if (outcome == engine::TOutcome::ocNoReply)
    return std::string(engine::kNoReplyText) + (what.empty() ? "" : ": " + what);
  std::string text = engine::kReplyErrorText;
  if (!what.empty()) text += ": " + what;
  if (stop.received)
    text += ", ожидалось " + platform::HexText(stop.expected, 2) + ", получено " +
            platform::HexText(stop.receivedByte, 2);
  return text;
}

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace window
