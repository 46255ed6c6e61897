// Text at the Windows boundary: the program keeps UTF-8 everywhere and speaks UTF-16 to
// the system's W functions, so names and messages survive whatever the ANSI code page is.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 to UTF-16. Invalid sequences become U+FFFD rather than failing: a caption or a
// path with a broken byte still reaches the system and shows where it went wrong.
std::wstring Utf8ToWide(std::string_view text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view text);

}  // namespace platform
