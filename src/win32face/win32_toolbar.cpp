// The tool bar and the port menu: the buttons from the window's table, their enabled
// states, the keyboard walk, commands and the port menu's drop.

#include <algorithm>
#include <array>

#include "platform/utf8_win32.h"
#include "win32face/win32_face.h"
#include "win32face/win32_face_shared.h"

namespace win32face {

using namespace face;
using platform::Utf8ToWide;

void TWin32Face::CreateToolbar() {
  toolbar_ = ::CreateWindowExW(
      0, TOOLBARCLASSNAMEW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0,
      main_, nullptr, instance_, nullptr);
  ::SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(toolbar_, TB_SETEXTENDEDSTYLE, 0,
                 TBSTYLE_EX_DRAWDDARROWS | TBSTYLE_EX_MIXEDBUTTONS);
  ::SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  std::array<std::wstring, kButtons.size()> captions;
  std::array<TBBUTTON, kButtons.size()> buttons{};
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    captions[i] = Utf8ToWide(kButtons[i].look->caption);
    buttons[i].iBitmap = kButtons[i].look->image;
    buttons[i].idCommand = kButtons[i].command;
    buttons[i].fsState = TBSTATE_ENABLED;
    // Image only: the captions name the buttons for screen readers.
    buttons[i].fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
    buttons[i].iString = reinterpret_cast<INT_PTR>(captions[i].c_str());
  }
  buttons[1].fsStyle = BTNS_WHOLEDROPDOWN;
  ::SendMessageW(toolbar_, TB_ADDBUTTONSW, buttons.size(),
                 reinterpret_cast<LPARAM>(buttons.data()));
  ::SetWindowSubclass(toolbar_, &TWin32Face::ToolbarKeys, 1, reinterpret_cast<DWORD_PTR>(this));
}

void TWin32Face::SetTransferControlsEnabled(bool enabled) {
  for (const int command : {cmBegin, cmFile, cmPort})
    ::SendMessageW(toolbar_, TB_ENABLEBUTTON, command, MAKELONG(enabled ? TRUE : FALSE, 0));
}

void TWin32Face::SetBeginEnabled(bool enabled) {
  ::SendMessageW(toolbar_, TB_ENABLEBUTTON, cmBegin, MAKELONG(enabled ? TRUE : FALSE, 0));
}

void TWin32Face::SetPortMenu(const std::vector<window::TPortItem>& items) {
  while (::GetMenuItemCount(portMenu_) > 0) ::DeleteMenu(portMenu_, 0, MF_BYPOSITION);
  portNames_.clear();
  for (const window::TPortItem& item : items) {
    const UINT flags = MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED);
    ::AppendMenuW(portMenu_, flags, cmPortItem + portNames_.size(), MenuCaption(item.name).c_str());
    portNames_.push_back(item.name);
  }
}

void TWin32Face::Command(int id) {
  if (const TButton* button = ButtonOf(id == cmPortKey ? cmPort : id); button != nullptr) {
    // A shortcut of a disabled button does nothing, as a click on it would.
    if (::SendMessageW(toolbar_, TB_ISBUTTONENABLED, button->command, 0) == 0) return;
  }
  switch (id) {
    case cmFile:
      Handle([this] { logic_->ASelectFileExecute(); });
      break;
    case cmBegin:
      Handle([this] { logic_->ABeginExecute(); });
      break;
    case cmExit:
      Handle([this] { logic_->AExitExecute(); });
      break;
    case cmPort:
    case cmPortKey:
      DropPortMenu(false);
      break;
    default:
      break;
  }
}

void TWin32Face::DropPortMenu(bool byMouse) {
  if (byMouse) {
    // Only a press of the left button alone drops the menu, and not the press that
    // closed it a moment ago.
    if (::GetKeyState(VK_SHIFT) < 0 || ::GetKeyState(VK_CONTROL) < 0 ||
        ::GetKeyState(VK_MENU) < 0) {
      return;
    }
    if (menuClosedOnce_ && ::GetTickCount64() - menuClosedAt_ < kMenuReopenMs) return;
  }
  Handle([this] { logic_->PortMenuDropping(); });
  const int count = ::GetMenuItemCount(portMenu_);
  if (count <= 0) return;

  RECT button{};
  ::SendMessageW(toolbar_, TB_GETRECT, cmPort, reinterpret_cast<LPARAM>(&button));
  ::MapWindowPoints(toolbar_, nullptr, reinterpret_cast<POINT*>(&button), 2);
  // Below the button's bottom-left corner; moved left to end at the button's right edge
  // when it would pass the right edge of the monitor's work area.
  int widest = 0;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_);
  const HFONT menuFont = ::CreateFontIndirectW(&metrics.lfMenuFont);
  for (const std::string& name : portNames_)
    widest = std::max(widest, TextWidth(main_, menuFont, MenuCaption(name)));
  ::DeleteObject(menuFont);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromPoint({button.left, button.bottom}, MONITOR_DEFAULTTONEAREST),
                    &monitor);
  UINT align = TPM_LEFTALIGN;
  int x = button.left;
  if (button.left + widest + Scale(kMenuExtraWidth) > monitor.rcWork.right) {
    align = TPM_RIGHTALIGN;
    x = button.right;
  }
  TPMPARAMS exclude{sizeof exclude, button};
  ::SendMessageW(toolbar_, TB_PRESSBUTTON, cmPort, MAKELONG(TRUE, 0));
  const UINT chosen = static_cast<UINT>(::TrackPopupMenuEx(
      portMenu_, align | TPM_TOPALIGN | TPM_VERTICAL | TPM_RETURNCMD | TPM_LEFTBUTTON, x,
      button.bottom, main_, &exclude));
  ::SendMessageW(toolbar_, TB_PRESSBUTTON, cmPort, MAKELONG(FALSE, 0));
  menuClosedAt_ = ::GetTickCount64();
  menuClosedOnce_ = true;
  if (chosen >= cmPortItem && chosen - cmPortItem < portNames_.size()) {
    const std::string name = portNames_[chosen - cmPortItem];
    Handle([this, &name] { logic_->PortMenuItemClick(name); });
  }
}

bool TWin32Face::ToolbarKey(WPARAM key) {
  const int count = static_cast<int>(kButtons.size());
  const auto enabled = [this](int index) {
    return ::SendMessageW(toolbar_, TB_ISBUTTONENABLED, kButtons[index].command, 0) != 0;
  };
  const auto step = [&](int direction) {
    for (int n = 1; n <= count; ++n) {
      const int index = ((hotButton_ + direction * n) % count + count) % count;
      if (enabled(index)) {
        hotButton_ = index;
        break;
      }
    }
    ::SendMessageW(toolbar_, TB_SETHOTITEM, hotButton_, 0);
  };
  switch (key) {
    case VK_TAB:
      step(::GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
      return true;
    case VK_RIGHT:
    case VK_DOWN:
      step(1);
      return true;
    case VK_LEFT:
    case VK_UP:
      step(-1);
      return true;
    case VK_SPACE:
    case VK_RETURN:
      if (enabled(hotButton_)) Command(kButtons[hotButton_].command);
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK TWin32Face::ToolbarKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR /*id*/, DWORD_PTR self) {
  auto* face = reinterpret_cast<TWin32Face*>(self);
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS | DLGC_WANTARROWS | DLGC_WANTTAB;
    case WM_KEYDOWN:
      if (face->ToolbarKey(wParam)) return 0;
      break;
    case WM_CHAR:
      // Tab, Space and Enter were handled as keys; no beep for their characters.
      if (wParam == L'\t' || wParam == L' ' || wParam == L'\r') return 0;
      break;
    case WM_SETFOCUS:
      ::SendMessageW(window, TB_SETHOTITEM, face->hotButton_, 0);
      break;
    case WM_KILLFOCUS:
      ::SendMessageW(window, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

LRESULT TWin32Face::HandleNotify(const NMHDR& header) {
  if (header.hwndFrom == toolbar_ && header.code == TBN_DROPDOWN) {
    DropPortMenu(true);
    return TBDDRET_DEFAULT;
  }
  if (header.hwndFrom == toolbar_ && header.code == TBN_GETINFOTIPW) {
    auto& tip = const_cast<NMTBGETINFOTIPW&>(reinterpret_cast<const NMTBGETINFOTIPW&>(header));
    if (const TButton* button = ButtonOf(tip.iItem); button != nullptr && tip.cchTextMax > 0) {
      const std::wstring hint = Utf8ToWide(button->look->hint);
      const std::size_t n = std::min<std::size_t>(hint.size(), tip.cchTextMax - 1);
      std::copy_n(hint.c_str(), n, tip.pszText);
      tip.pszText[n] = L'\0';
    }
    return 0;
  }
  return 0;
}

}  // namespace win32face
