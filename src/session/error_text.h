// The text an error is shown with, in the window's error box and on the command line.
#pragma once

#include <string>

namespace session {

// A full stop is appended unless the text is empty or its last byte sorts at or below
// '.' (so "...", "!" or ")" endings stay as they are).
inline std::string ErrorBoxText(const std::string& message) {
  if (message.empty() || static_cast<unsigned char>(message.back()) <= '.') return message;
  return message + '.';
}

}  // namespace session
