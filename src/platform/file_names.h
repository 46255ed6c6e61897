// File names as plain strings: the name part of a path and a change of extension, written
// once for the converter, the settings store and the window.
#pragma once

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

}  // namespace platform
