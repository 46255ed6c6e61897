#include "settings/ini_text.h"

#include <algorithm>

namespace settings::ini {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

enum class TLineKind { lkOther, lkSection, lkKey };

struct TLine {
  std::string_view raw;  // without its line end
  TLineKind kind = TLineKind::lkOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed, quotes removed
};

TLine Classify(std::string_view raw) {
  TLine line;
  line.raw = raw;
  const std::string_view body = Trim(raw);
  if (body.empty() || body.front() == ';' || body.front() == '#') return line;
  // A '[' without its ']' opens no section; the line is read as any other line.
  if (const auto close = body.find(']'); body.front() == '[' && close != std::string_view::npos) {
    line.kind = TLineKind::lkSection;
    line.name = Trim(body.substr(1, close - 1));
    return line;
  }
  const auto eq = body.find('=');
  if (eq == std::string_view::npos) return line;
  // A key with an empty name is a key all the same: it ends the section's list of names,
  // as the profile functions' list ends at its first empty name.
  line.name = Trim(body.substr(0, eq));
  line.kind = TLineKind::lkKey;
  std::string_view value = Trim(body.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  line.value = value;
  return line;
}

// Calls `fn` with each line of `text` (a leading UTF-8 byte order mark skipped) and its
// index, until `fn` returns false. A line ends at CR LF, LF or CR alone, and the text at its
// first NUL byte, as on Windows. Nothing is kept per line, so a file of many short lines
// costs no more memory than a file of a few long ones.
template <class Fn>
void ForEachLine(std::string_view text, Fn fn) {
  text = text.substr(0, text.find('\0'));
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  for (std::size_t index = 0; !text.empty(); ++index) {
    const auto end = text.find_first_of("\r\n");
    const std::string_view raw = text.substr(0, end);
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end != std::string_view::npos && text[end] == '\r' && next < text.size() &&
        text[next] == '\n')
      ++next;
    text.remove_prefix(next);
    if (!fn(Classify(raw), index)) return;
  }
}

// Where the first section named `section` lies, and in it the first line of `key` and the
// last key line of all; lines are counted as ForEachLine counts them, kNone if absent.
constexpr std::size_t kNone = std::string_view::npos;
struct TPlace {
  std::size_t header = kNone, key = kNone, lastKey = kNone;
  // A key with an empty name ends the section's key list, as the Windows profile functions
  // list it: the last line before it (header or key), and whether there is one.
  std::size_t lastListed = kNone;
  bool unnamedKey = false;
};

TPlace Locate(std::string_view text, std::string_view section, std::string_view key) {
  const std::string_view wantedSection = Trim(section);
  const std::string_view wantedKey = Trim(key);
  TPlace place;
  ForEachLine(text, [&](const TLine& l, std::size_t i) {
    if (l.kind == TLineKind::lkSection) {
      if (place.header != kNone) return false;  // only the first section of that name counts
      if (SameName(l.name, wantedSection)) place.header = place.lastListed = i;
    } else if (place.header != kNone && l.kind == TLineKind::lkKey) {
      if (l.name.empty()) place.unnamedKey = true;
      // A key behind the unnamed one would be stored out of the key list: it is stored anew
      // before it, and reads find that first.
      if (place.key == kNone && !place.unnamedKey && SameName(l.name, wantedKey)) place.key = i;
      if (!place.unnamedKey) place.lastListed = i;
      place.lastKey = i;
    }
    return true;
  });
  return place;
}

bool StorableText(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// A value that would not read back as written (blanks at its ends, or already wrapped in
// a pair of quotes) is stored inside double quotes; every other value is stored as is.
std::string EncodeValue(std::string_view value) {
  const bool blankEnds = !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                                            kBlanks.find(value.back()) != std::string_view::npos);
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  if (!blankEnds && !quoted) return std::string(value);
  // Appended piece by piece: GCC's -O3 misreads "\"" + std::string as an overlapping copy.
  std::string encoded;
  encoded.reserve(value.size() + 2);
  encoded.append(1, '"').append(value).append(1, '"');
  return encoded;
}

}  // namespace

std::string ReadText(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view fallback) {
  const std::string_view wantedSection = Trim(section);
  const std::string_view wantedKey = Trim(key);
  std::string_view result = fallback;
  bool inSection = false;
  ForEachLine(text, [&](const TLine& l, std::size_t) {
    if (l.kind == TLineKind::lkSection) {
      if (inSection) return false;  // only the first section of that name counts
      inSection = SameName(l.name, wantedSection);
    } else if (inSection && l.kind == TLineKind::lkKey && !l.name.empty() &&
               SameName(l.name, wantedKey)) {
      result = l.value;
      return false;
    }
    return true;
  });
  return std::string(result.substr(0, kMaxReadLength));
}

std::vector<std::string> KeyNames(std::string_view text, std::string_view section) {
  const std::string_view wantedSection = Trim(section);
  std::vector<std::string> names;
  bool inSection = false;
  ForEachLine(text, [&](const TLine& l, std::size_t) {
    if (l.kind == TLineKind::lkSection) {
      if (inSection) return false;
      inSection = SameName(l.name, wantedSection);
    } else if (inSection && l.kind == TLineKind::lkKey) {
      if (l.name.empty()) return false;
      const bool seen = std::any_of(names.begin(), names.end(),
                                    [&](const std::string& n) { return SameName(n, l.name); });
      if (!seen) names.emplace_back(l.name);
    }
    return true;
  });
  return names;
}

std::optional<std::string> WithValue(std::string_view text, std::string_view section,
                                     std::string_view key, std::string_view value) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  if (!StorableText(section) || !StorableText(key) || !StorableText(value)) return std::nullopt;
  if (sectionName.empty() || sectionName.find(']') != std::string_view::npos) return std::nullopt;
  if (keyName.empty() || keyName.find('=') != std::string_view::npos ||
      std::string_view("[;#").find(keyName.front()) != std::string_view::npos) {
    return std::nullopt;
  }

  const TPlace place = Locate(text, section, key);
  const std::string keyLine = std::string(keyName) + "=" + EncodeValue(value);
  // A new key goes right after the section's last key, or after its header if it has none;
  // in a section with an unnamed key, before that one, so that the key list holds it.
  const std::size_t insertAfter = place.key != kNone       ? kNone
                                  : place.unnamedKey       ? place.lastListed
                                  : place.lastKey != kNone ? place.lastKey
                                                           : place.header;

  std::string result = text.starts_with(kUtf8Bom) ? std::string(kUtf8Bom) : std::string();
  result.reserve(text.size() + keyLine.size() + sectionName.size() + 8);
  ForEachLine(text, [&](const TLine& l, std::size_t i) {
    result += i == place.key ? std::string_view(keyLine) : l.raw;
    result += "\r\n";
    if (i == insertAfter) result += keyLine + "\r\n";
    return true;
  });
  if (place.header == kNone) result += "[" + std::string(sectionName) + "]\r\n" + keyLine + "\r\n";
  return result;
}

}  // namespace settings::ini
