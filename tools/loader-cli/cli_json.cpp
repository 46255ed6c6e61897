// The --json results, written by hand: the tool needs only flat objects of strings and
// numbers, not a JSON library.
#include <cstdio>

#include "cli_commands.h"

namespace cli {

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
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
          // Bytes from 0x80 up are the UTF-8 of the device's texts and pass unchanged.
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
         ",\"blocks\":" + std::to_string(r.blocks) + ",\"seconds\":" + seconds +
         ",\"outcome\":" + JsonString(r.outcome) + ",\"error\":" + JsonString(r.error) +
         ",\"exit_code\":" + std::to_string(r.status) + "}";
}

}  // namespace cli
