#include "window/status_text.h"

#include <cstdio>

namespace window {

namespace {

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

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
      return "команда страницы " + Hex(stop.address, 4);
    case engine::tsAwaitBlockSum:
      return "блок " + std::to_string(stop.block) + " (" + Hex(stop.address, 4) + ")";
    case engine::tsIdle:
      break;
  }
  return {};
}

}  // namespace

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
    text += ", ожидалось " + Hex(stop.expected, 2) + ", получено " + Hex(stop.receivedByte, 2);
  return text;
}

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace window
