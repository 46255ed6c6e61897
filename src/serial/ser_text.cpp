#include "serial/ser_text.h"

#include <cstdio>
#include <string_view>

#include "platform/file.h"
#include "serial/ser_platform.h"

namespace serial {

std::string SerSystemErrorText(int code) {
  return platform::SystemMessage(static_cast<platform::TErrorCode>(code), 256);
}

std::string SerFormatError(const char* pattern, int value, const std::string& text) {
  std::string out(pattern);
  if (auto pos = out.find("%d"); pos != std::string::npos)
    out.replace(pos, 2, std::to_string(value));
  if (auto pos = out.find("%s"); pos != std::string::npos) out.replace(pos, 2, text);
  return out;
}

std::string SerFormatDeviceName(const std::string& pattern, std::int32_t portNum) {
  // The pattern comes from saved settings, so it is never handed to printf: only integer
  // directives take the number; anything else stays as written.
  std::string out;
  const std::string& p = pattern;
  bool used = false;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') {
      out += p[i];
      continue;
    }
    if (i + 1 < p.size() && p[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < p.size() && std::string_view("-+ 0#").find(p[j]) != std::string_view::npos) ++j;
    while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
    if (j < p.size() && p[j] == '.') {
      ++j;
      while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
    }
    if (!used && j < p.size() && j - i <= 8 &&
        (p[j] == 'd' || p[j] == 'i' || p[j] == 'u' || p[j] == 'x' || p[j] == 'X')) {
      const std::string directive = p.substr(i, j - i + 1);
      char buf[64];
      std::snprintf(buf, sizeof buf, directive.c_str(), portNum);
      out += buf;
      used = true;
      i = j;
      continue;
    }
    out += '%';
  }
  return out;
}

}  // namespace serial
