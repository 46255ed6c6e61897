#include "window/window_look.h"

namespace window {

std::string ShortcutText(const TShortcut& shortcut) {
  std::string key;
  if (shortcut.letter >= 'A' && shortcut.letter <= 'Z') {
    key = shortcut.letter;
  } else if (shortcut.functionKey >= 1 && shortcut.functionKey <= 24) {
    key = "F" + std::to_string(shortcut.functionKey);
  } else {
    return {};
  }
  return shortcut.control ? "Ctrl+" + key : key;
}

}  // namespace window
