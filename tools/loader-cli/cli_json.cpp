// The --json results, written by hand: the tool needs only flat objects of strings and
// numbers, not a JSON library.
#include <cstdio>

#include "cli_commands.h"

namespace cli {

namespace {

// The length of the well-formed UTF-8 character at the start of text, or 0 when it is not
// one (a stray continuation byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (static_cast<unsigned char>(c) >= 0x80) {
      // UTF-8 (the device's texts, most file names) passes unchanged. A file name may hold
      // any bytes; one that is not UTF-8 is written as the character of its value, so that
      // the line stays valid JSON.
      if (const std::size_t length = Utf8Length(text.substr(at)); length > 0) {
        json.append(text.substr(at, length));
        at += length - 1;
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
        json += escaped;
      }
      continue;
    }
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          json += escaped;
        } else {
          json += c;
        }
    }
  }
  return json + '"';
}

std::string JsonResult(const TFlashResult& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  return "{\"port\":" + JsonString(r.port) + ",\"file\":" + JsonString(r.file) +
         ",\"image_bytes\":" + std::to_string(r.imageBytes) +
         ",\"crc32\":" + (r.crc32 ? JsonString(CrcText(*r.crc32)) : std::string("null")) +
         ",\"blocks\":" + std::to_string(r.blocks) + ",\"seconds\":" + seconds +
         ",\"outcome\":" + JsonString(r.outcome) + ",\"error\":" + JsonString(r.error) +
         ",\"exit_code\":" + std::to_string(r.status) + "}";
}

}  // namespace cli
