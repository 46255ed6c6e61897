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

enum class LineKind { kOther, kSection, kKey };

struct Line {
  std::string_view raw;  // without its line end
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed, quotes removed
};

Line Classify(std::string_view raw) {
  Line line;
  line.raw = raw;
  const std::string_view body = Trim(raw);
  if (body.empty() || body.front() == ';' || body.front() == '#') return line;
  if (body.front() == '[') {
    const auto close = body.find(']');
    line.kind = LineKind::kSection;
    line.name =
        Trim(body.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return line;
  }
  const auto eq = body.find('=');
  if (eq == std::string_view::npos) return line;
  line.name = Trim(body.substr(0, eq));
  if (line.name.empty()) return line;
  line.kind = LineKind::kKey;
  std::string_view value = Trim(body.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  line.value = value;
  return line;
}

struct Document {
  bool bom = false;
  std::vector<Line> lines;
};

Document Parse(std::string_view text) {
  Document doc;
  if (text.starts_with(kUtf8Bom)) {
    doc.bom = true;
    text.remove_prefix(kUtf8Bom.size());
  }
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view raw = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    doc.lines.push_back(Classify(raw));
  }
  return doc;
}

// Index range [first, last) of the lines of the first section named `section`, the header
// excluded; nullopt if there is no such section.
struct Range {
  std::size_t header, first, last;
};

std::optional<Range> FindSection(const Document& doc, std::string_view section) {
  const std::string_view wanted = Trim(section);
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    const Line& l = doc.lines[i];
    if (l.kind != LineKind::kSection || !SameName(l.name, wanted)) continue;
    std::size_t end = i + 1;
    while (end < doc.lines.size() && doc.lines[end].kind != LineKind::kSection) ++end;
    return Range{i, i + 1, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const Document& doc, const Range& r, std::string_view key) {
  const std::string_view wanted = Trim(key);
  for (std::size_t i = r.first; i < r.last; ++i) {
    const Line& l = doc.lines[i];
    if (l.kind == LineKind::kKey && SameName(l.name, wanted)) return i;
  }
  return std::nullopt;
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
  const Document doc = Parse(text);
  std::string_view result = fallback;
  if (const auto range = FindSection(doc, section)) {
    if (const auto index = FindKey(doc, *range, key)) result = doc.lines[*index].value;
  }
  return std::string(result.substr(0, kMaxReadLength));
}

std::vector<std::string> KeyNames(std::string_view text, std::string_view section) {
  const Document doc = Parse(text);
  std::vector<std::string> names;
  const auto range = FindSection(doc, section);
  if (!range) return names;
  for (std::size_t i = range->first; i < range->last; ++i) {
    const Line& l = doc.lines[i];
    if (l.kind != LineKind::kKey) continue;
    const bool seen = std::any_of(names.begin(), names.end(),
                                  [&](const std::string& n) { return SameName(n, l.name); });
    if (!seen) names.emplace_back(l.name);
  }
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

  Document doc = Parse(text);
  const std::string keyLine = std::string(keyName) + "=" + EncodeValue(value);
  std::vector<std::string> out;
  out.reserve(doc.lines.size() + 2);
  for (const Line& l : doc.lines) out.emplace_back(l.raw);

  if (const auto range = FindSection(doc, section)) {
    if (const auto index = FindKey(doc, *range, key)) {
      out[*index] = keyLine;
    } else {
      std::size_t at = range->first;
      for (std::size_t i = range->first; i < range->last; ++i) {
        if (doc.lines[i].kind == LineKind::kKey) at = i + 1;
      }
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), keyLine);
    }
  } else {
    out.push_back("[" + std::string(sectionName) + "]");
    out.push_back(keyLine);
  }

  std::string result = doc.bom ? std::string(kUtf8Bom) : std::string();
  for (const std::string& l : out) {
    result += l;
    result += "\r\n";
  }
  return result;
}

}  // namespace settings::ini
