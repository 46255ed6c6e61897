// Feeds arbitrary bytes to the INI text reader and writer. The input is the INI text up to
// its first NUL byte; after that byte, NUL-separated, come the section, key and value to
// store (the loader's own "PortName", "Name" and "COM3" where the input ends first). Every
// stored value must read back as written, and storing it a second time must change nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/ini_text.h"

namespace {

namespace ini = settings::ini;

// The next NUL-terminated piece of `rest`, or `fallback` when `rest` is used up.
std::string_view Next(std::string_view& rest, std::string_view fallback) {
  if (rest.empty()) return fallback;
  const std::size_t end = rest.find('\0');
  const std::string_view piece = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  return piece;
}

std::string_view TrimBlanks(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

[[noreturn]] void Fail(const char* what, std::string_view section, std::string_view key) {
  std::fprintf(stderr, "%s (section \"%.*s\", key \"%.*s\")\n", what,
               static_cast<int>(section.size()), section.data(), static_cast<int>(key.size()),
               key.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view text = Next(rest, {});
  const std::string_view section = Next(rest, "PortName");
  const std::string_view key = Next(rest, "Name");
  const std::string_view value = Next(rest, "COM3");

  if (ini::ReadText(text, section, key, {}).size() > ini::kMaxReadLength) {
    Fail("a read longer than the read limit", section, key);
  }
  ini::KeyNames(text, section);

  const auto stored = ini::WithValue(text, section, key, value);
  if (!stored) return 0;
  // A fallback that no stored value can equal: it holds a line break.
  if (ini::ReadText(*stored, section, key, "\n") != value.substr(0, ini::kMaxReadLength)) {
    Fail("a stored value reads back differently", section, key);
  }
  const auto names = ini::KeyNames(*stored, section);
  if (std::find(names.begin(), names.end(), TrimBlanks(key)) == names.end()) {
    Fail("a stored key is missing from its section's key names", section, key);
  }
  if (ini::WithValue(*stored, section, key, value) != stored) {
    Fail("storing the same value twice changes the text", section, key);
  }
  return 0;
}
