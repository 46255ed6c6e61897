// What both faces draw the same: the actions' captions, hints, images and shortcuts, the tool
// bar's order, the two windows' sizes, the prompt's font, the port button's width and the
// file dialog's title, filter and extension. Each face builds its controls from this table,
// so a text or a size is changed here once.
#pragma once

#include <array>
#include <string>

namespace window {

// The pictures of the image list (ImageList1), 16 x 16 at 100 % scaling; each face draws
// them in its own way.
enum TImageIndex { imFile = 0, imSerialPort = 1, imStart = 2, imExit = 3, imCount = 4 };

// A key combination: Ctrl with a letter, or a function key alone; none when both are unset.
struct TShortcut {
  bool control = false;
  char letter = 0;      // 'A' to 'Z'
  int functionKey = 0;  // 1 to 24
};

// One command as the operator meets it: an action, or the port button (bound to none).
struct TActionLook {
  const char* name;  // the component's name (ASelectFile, UiToolButton2, ...)
  const char* caption;
  const char* hint;
  TImageIndex image;
  TShortcut shortcut;
};

inline constexpr TActionLook kSelectFileAction{
    "ASelectFile", "Файл", "Выбор файла для загрузки", imFile, {true, 'O', 0}};
// Bound to no control: only the start-up code executes it.
inline constexpr TActionLook kChangeComPortAction{
    "AChangeComPort", "AChangeComPort", "Выбрать последовательный порт", imSerialPort, {}};
inline constexpr TActionLook kBeginAction{
    "ABegin", "Старт", "Начать загрузку", imStart, {false, 0, 5}};
inline constexpr TActionLook kExitAction{"AExit", "Выход", "Выход", imExit, {true, 'Q', 0}};
// The drop-down tool button of the port menu; its caption is not shown (image only).
inline constexpr TActionLook kPortButton{
    "UiToolButton2", "Порт", "Выбрать последовательный порт", imSerialPort, {true, 'P', 0}};

// The tool bar's buttons, left to right (UiToolButton1 to UiToolButton4).
inline constexpr std::array<const TActionLook*, 4> kToolbarButtons{&kSelectFileAction, &kPortButton,
                                                                   &kBeginAction, &kExitAction};
// Every command the keyboard reaches.
inline constexpr std::array<const TActionLook*, 5> kAllActions{
    &kSelectFileAction, &kChangeComPortAction, &kBeginAction, &kExitAction, &kPortButton};

struct TSize {
  int width;
  int height;
};

// Client areas at 100 % scaling.
inline constexpr TSize kMainClientSize{344, 128};
inline constexpr TSize kPromptClientSize{195, 57};
inline constexpr int kToolbarHeight = 29;
inline constexpr int kStatusBarHeight = 19;
inline constexpr int kPortButtonWidth = 39;
// The prompt's text: "MS Sans Serif" with height -19, about 14 pt.
inline constexpr int kPromptFontHeight = 19;

// The file-open dialog (UiOpenDialog1): one filter entry.
struct TFileDialogLook {
  const char* title;
  const char* filterName;
  const char* filterPattern;
  const char* defaultExtension;
};
inline constexpr TFileDialogLook kOpenDialog{"Выбери файл (*.hex) для загрузки", "HexFiles",
                                             "*.hex", "hex"};

// The progress bar's name for screen readers (its value is the percentage).
inline constexpr const char* kProgressBarName = "Ход загрузки";

// The shortcut as a menu writes it: "Ctrl+O", "F5"; empty for none.
std::string ShortcutText(const TShortcut& shortcut);

}  // namespace window
