// File names as plain strings: the name part of a path and a change of extension, written
// once for the converter, the settings store and the window; and the one passage between
// the program's UTF-8 paths and std::filesystem.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Where a name's directory or drive part ends: backslash and colon in Windows paths, the
// slash everywhere. The converter and the settings store cut at all three on every
// platform, so that a name never carries a directory into what is made from it.
inline constexpr std::string_view kPathDelimiters = "\\:/";

// The delimiters of this system's own paths: the slash alone on POSIX, where a backslash
// or a colon is part of a file's name.
std::string_view NativePathDelimiters();

// The part of path after its last delimiter ("" when path ends in one).
std::string FileNamePart(std::string_view path, std::string_view delimiters = kPathDelimiters);

// name with its extension (from the last full stop of its name part) replaced by ext, or
// with ext appended when the name part has none; "" for ext removes the extension.
std::string ChangeExtension(std::string_view name, std::string_view ext,
                            std::string_view delimiters = kPathDelimiters);

// A UTF-8 path as std::filesystem takes it, and back: a plain std::string would be read in
// the ANSI code page on Windows.
inline std::filesystem::path PathOf(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace platform
