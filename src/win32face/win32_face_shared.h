// The Win32 face's own pieces, shared by its files: window classes, commands, the tool
// bar's buttons and the messages it posts itself. Not for use outside src/win32face.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "platform/utf8_win32.h"
#include "window/window_look.h"

namespace win32face::face {

inline constexpr const wchar_t* kMainClass = L"TForm1";
inline constexpr const wchar_t* kPromptClass = L"TForm2";
inline constexpr int kMenuExtraWidth = 56;  // check mark, margins and arrow beside the caption
inline constexpr ULONGLONG kMenuReopenMs = 100;

// The window's own message: a pending message box.
inline constexpr UINT kPendingMessage = 0x401;
inline constexpr UINT_PTR kReplyTimerId = 1;

enum TCommand : int {
  cmFile = 101,
  cmPort = 102,
  cmBegin = 103,
  cmExit = 104,
  cmPortKey = 105,  // Ctrl+P: the port menu from the keyboard
  cmPortItem = 1000,
};

// A tool button: its command and what the window's table says of it.
struct TButton {
  int command;
  const window::TActionLook* look;
};

inline constexpr std::array<TButton, window::kToolbarButtons.size()> kButtons{{
    {cmFile, window::kToolbarButtons[0]},
    {cmPort, window::kToolbarButtons[1]},
    {cmBegin, window::kToolbarButtons[2]},
    {cmExit, window::kToolbarButtons[3]},
}};

inline const TButton* ButtonOf(int command) {
  for (const TButton& button : kButtons)
    if (button.command == command) return &button;
  return nullptr;
}

// A menu caption shows '&' literally only when doubled.
inline std::wstring MenuCaption(const std::string& name) {
  std::wstring caption;
  for (const wchar_t c : platform::Utf8ToWide(name)) {
    if (c == L'&') caption += L'&';
    caption += c;
  }
  return caption;
}

// The width of `text` in `font`, in the window's device pixels.
inline int TextWidth(HWND window, HFONT font, const std::wstring& text) {
  const HDC dc = ::GetDC(window);
  const HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return size.cx;
}

}  // namespace win32face::face
