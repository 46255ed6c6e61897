// The table both faces build their actions from.
#include "window/window_look.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace window {
namespace {

TEST(WindowLook, ShortcutText) {
  const struct {
    TShortcut shortcut;
    const char* text;
  } cases[] = {
      {{true, 'O', 0}, "Ctrl+O"},
      {{false, 0, 5}, "F5"},
      {{true, 0, 12}, "Ctrl+F12"},
      {{false, 'Z', 0}, "Z"},
      {{}, ""},
      {{true, 0, 0}, ""},
      {{false, 'a', 0}, ""},
      {{false, 0, 25}, ""},
      {{false, 0, 1}, "F1"},
  };
  for (const auto& k : cases) EXPECT_EQ(ShortcutText(k.shortcut), k.text) << k.text;
}

// A shortcut given twice would reach only one command; an image outside the list shows none.
TEST(WindowLook, EveryCommandHasItsOwnShortcutAndAnImageOfTheList) {
  std::set<std::string> keys;
  for (const TActionLook* look : kAllActions) {
    EXPECT_GE(look->image, 0) << look->name;
    EXPECT_LT(look->image, imCount) << look->name;
    const std::string key = ShortcutText(look->shortcut);
    if (!key.empty()) {
      EXPECT_TRUE(keys.insert(key).second) << look->name << " " << key;
    }
  }
  EXPECT_EQ(keys.size(), 4u);
}

}  // namespace
}  // namespace window
