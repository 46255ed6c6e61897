#include "window/window_look.h"

namespace window {

std::string ShortcutText(const TShortcut& shortcut) {
  std::string key;
  if (shortcut.letter >= 'A' && shortcut.letter <= 'Z') {
    key = shortcut.letter;
  } else if (shortcut.functionKey >= 1 && shortcut.functionKey <= 24) {
    // Appended, not "F" + the number: GCC 12 at -O3 takes that form for an overlapping copy.
    key = 'F';
    key += std::to_string(shortcut.functionKey);
  } else {
    return {};
  }
  if (!shortcut.control) return key;
  std::string text = "Ctrl+";
  text += key;
  return text;
}

}  // namespace window
