#include "platform/utf8_win32.h"

#include <windows.h>

#include <climits>
#include <cstddef>

namespace platform {

namespace {

int Length(std::size_t size) {
  // The conversion functions count in int; longer texts are cut rather than wrapped.
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), Length(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), Length(text.size()), wide.data(), n);
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), Length(text.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), Length(text.size()), narrow.data(), n, nullptr,
                          nullptr);
  }
  return narrow;
}

}  // namespace platform
