// The INI text format as the settings files use it, without any file access: lookups and
// the rewrite that stores one value. Section and key names match regardless of ASCII
// letter case; blanks around names and values are ignored; a value wrapped in a matching
// pair of quotes (" or ') reads without them; lines beginning with ';' or '#' are comments.
// Lines may end in CR LF, LF, CR alone, or a mix, and the text ends at its first NUL byte, as
// the Windows profile functions read them; a '[' without ']' opens no section, and a key with
// an empty name ends its section's list of key names. A rewrite ends every line with CR LF
// and keeps every other line as it stands.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings::ini {

// Longest value a read gives back; longer values are cut to this many characters.
inline constexpr std::size_t kMaxReadLength = 2047;

// The value of `key` in `section`, or the fallback if the key or section is absent; the
// result is cut to kMaxReadLength characters. A present key with an empty value gives "".
std::string ReadText(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view fallback);

// Names of the keys of `section` in file order (each name once, as first spelt).
std::vector<std::string> KeyNames(std::string_view text, std::string_view section);

// `text` with `key` of `section` set to `value`: an existing key line is replaced, a new
// key goes after the section's last key, a new section is appended at the end. Returns
// nothing when the names or the value cannot be stored in an INI line (line breaks or NUL
// bytes anywhere, ']' in a section name, '=' in a key name, empty names).
std::optional<std::string> WithValue(std::string_view text, std::string_view section,
                                     std::string_view key, std::string_view value);

}  // namespace settings::ini
