#include "win32face/win32_face.h"

#include <windowsx.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <stdexcept>

#include "platform/file.h"
#include "platform/utf8_win32.h"
#include "win32face/resource.h"
#include "win32face/toolbar_images.h"

namespace win32face {

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;

constexpr const wchar_t* kMainClass = L"TForm1";
constexpr const wchar_t* kPromptClass = L"TForm2";
using window::kMainClientSize;
using window::kOpenDialog;
using window::kPortButtonWidth;
using window::kPromptClientSize;
using window::kPromptFontHeight;
constexpr int kMenuExtraWidth = 56;  // check mark, margins and arrow beside the caption
constexpr ULONGLONG kMenuReopenMs = 100;

// The window's own message: a pending message box.
constexpr UINT kPendingMessage = 0x401;
constexpr UINT_PTR kReplyTimerId = 1;

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

constexpr std::array<TButton, window::kToolbarButtons.size()> kButtons{{
    {cmFile, window::kToolbarButtons[0]},
    {cmPort, window::kToolbarButtons[1]},
    {cmBegin, window::kToolbarButtons[2]},
    {cmExit, window::kToolbarButtons[3]},
}};

// The keys: each button's shortcut; the port button's drops its menu from the keyboard.
ACCEL Accelerator(const window::TActionLook& look, int command) {
  const window::TShortcut& key = look.shortcut;
  ACCEL accel{};
  accel.fVirt = static_cast<BYTE>(FVIRTKEY | (key.control ? FCONTROL : 0));
  accel.key = key.letter != 0 ? static_cast<WORD>(key.letter)
                              : static_cast<WORD>(VK_F1 + key.functionKey - 1);
  accel.cmd = static_cast<WORD>(command);
  return accel;
}

const TButton* ButtonOf(int command) {
  for (const TButton& button : kButtons)
    if (button.command == command) return &button;
  return nullptr;
}

// A menu caption shows '&' literally only when doubled.
std::wstring MenuCaption(const std::string& name) {
  std::wstring caption;
  for (const wchar_t c : Utf8ToWide(name)) {
    if (c == L'&') caption += L'&';
    caption += c;
  }
  return caption;
}

int TextWidth(HWND window, HFONT font, const std::wstring& text) {
  const HDC dc = ::GetDC(window);
  const HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return size.cx;
}

}  // namespace

TWin32Face::TWin32Face(HINSTANCE instance, window::TMainWindowOptions options)
    : instance_(instance), options_(std::move(options)) {}

TWin32Face::~TWin32Face() {
  if (sync_) sync_->Shutdown();
  logic_.reset();
  timer_.reset();
  if (prompt_ != nullptr) ::DestroyWindow(prompt_);
  if (main_ != nullptr) ::DestroyWindow(main_);
  if (portMenu_ != nullptr) ::DestroyMenu(portMenu_);
  if (accelerators_ != nullptr) ::DestroyAcceleratorTable(accelerators_);
  FreeDpiResources();
}

void TWin32Face::Handle(const std::function<void()>& handler) {
  if (logic_) {
    logic_->RunHandler(handler);
    return;
  }
  try {
    handler();
  } catch (...) {
    // Before the window logic exists there is nothing that could show it.
  }
}

int TWin32Face::Run(int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
  RegisterClasses();
  CreateMainWindow();
  CreatePrompt();

  std::array<ACCEL, kButtons.size()> keys{};
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    const int command = kButtons[i].command == cmPort ? cmPortKey : kButtons[i].command;
    keys[i] = Accelerator(*kButtons[i].look, command);
  }
  accelerators_ = ::CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size()));

  sync_ = std::make_unique<TWin32Synchronizer>(
      [this](const std::function<void()>& call) { Handle(call); });
  timer_ = std::make_unique<TWin32Timer>(main_, kReplyTimerId);
  logic_ = std::make_unique<window::TMainWindow>(*this, *sync_, *timer_, options_);
  // A failure while the window is created is shown like any other; the window still
  // opens with what was restored so far.
  Handle([this] { logic_->FormCreate(); });

  ::ShowWindow(main_, show);
  ::UpdateWindow(main_);

  MSG message{};
  for (;;) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) break;
    if (got == -1) return 1;
    if (accelerators_ != nullptr && main_ != nullptr &&
        ::TranslateAcceleratorW(main_, accelerators_, &message) != 0) {
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void TWin32Face::RegisterClasses() {
  icon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_LOADER), IMAGE_ICON,
                                          ::GetSystemMetrics(SM_CXICON),
                                          ::GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_LOADER), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), 0));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TWin32Face::MainProc;
  wc.hInstance = instance_;
  wc.hIcon = icon_;
  wc.hIconSm = smallIcon_;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kMainClass;
  ::RegisterClassExW(&wc);
  wc.lpfnWndProc = &TWin32Face::PromptProc;
  wc.lpszClassName = kPromptClass;
  ::RegisterClassExW(&wc);
}

void TWin32Face::CreateMainWindow() {
  // A fixed frame: a caption with the system menu, no sizing border, no maximize.
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  main_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kMainClass, Utf8ToWide(window::kAppTitle).c_str(),
                            kStyle, CW_USEDEFAULT, CW_USEDEFAULT, kMainClientSize.width,
                            kMainClientSize.height, nullptr, nullptr, instance_, this);
  if (main_ == nullptr) {
    throw std::runtime_error("Cannot create the main window. " +
                             platform::SystemErrorText(::GetLastError()));
  }
  // Fonts and pictures come in the monitor's scale before any control uses them.
  dpi_ = ::GetDpiForWindow(main_);
  CreateDpiResources();
  CreateToolbar();
  CreateStatusBar();
  portMenu_ = ::CreatePopupMenu();
  Layout();
  PlaceMainWindow();
}

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

void TWin32Face::CreateStatusBar() {
  statusBar_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                 main_, nullptr, instance_, nullptr);
  // One hint per part: the port pane's and the status text's (UpdateStatusTips).
  statusTips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, main_,
                                  nullptr, instance_, nullptr);
  for (UINT_PTR part = 0; part < 2; ++part) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = statusBar_;
    tool.uId = part;
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(statusTips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  // The progress bar is the second part, drawn by its owner. The percentage shows at
  // once, not at the window's next paint cycle.
  progress_.SetRepaint([this] {
    if (!progressVisible_) return;
    RECT part{};
    ::SendMessageW(statusBar_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
    ::InvalidateRect(statusBar_, &part, FALSE);
    ::UpdateWindow(statusBar_);
  });
}

void TWin32Face::PlaceMainWindow() {
  // The client area is 344 x 128 at 100%, scaled with the monitor; centred on its work area.
  RECT frame{0, 0, Scale(kMainClientSize.width), Scale(kMainClientSize.height)};
  ::AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(::GetWindowLongW(main_, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(::GetWindowLongW(main_, GWL_EXSTYLE)), dpi_);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(main_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  ::SetWindowPos(main_, nullptr, (work.left + work.right - width) / 2,
                 (work.top + work.bottom - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32Face::CreatePrompt() {
  prompt_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kPromptClass, L"",
                              WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, kPromptClientSize.width,
                              kPromptClientSize.height, main_, nullptr, instance_, this);
  promptLabel_ = ::CreateWindowExW(0, L"STATIC", Utf8ToWide(window::kPowerOnPrompt).c_str(),
                                   WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0, 0, 0,
                                   prompt_, nullptr, instance_, nullptr);
  ::SendMessageW(promptLabel_, WM_SETFONT, reinterpret_cast<WPARAM>(promptFont_), TRUE);
}

void TWin32Face::CreateDpiResources() {
  FreeDpiResources();
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW font{};
  if (::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_)) {
    font = metrics.lfMessageFont;
  } else {
    font.lfHeight = -Scale(11);
    wcscpy_s(font.lfFaceName, L"MS Shell Dlg 2");
  }
  font_ = ::CreateFontIndirectW(&font);
  font.lfHeight = -Scale(kPromptFontHeight);
  promptFont_ = ::CreateFontIndirectW(&font);
  images_ = CreateToolImages(ToolImageSize(dpi_));
  barLook_ = SystemBarLook();
}

void TWin32Face::FreeDpiResources() {
  if (font_ != nullptr) ::DeleteObject(font_);
  if (promptFont_ != nullptr) ::DeleteObject(promptFont_);
  if (images_ != nullptr) ::ImageList_Destroy(images_);
  font_ = nullptr;
  promptFont_ = nullptr;
  images_ = nullptr;
}

void TWin32Face::Layout() {
  if (main_ == nullptr || toolbar_ == nullptr || statusBar_ == nullptr) return;
  ::SendMessageW(toolbar_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  ::SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  TBBUTTONINFOW port{};
  port.cbSize = sizeof port;
  port.dwMask = TBIF_SIZE;
  port.cx = static_cast<WORD>(Scale(kPortButtonWidth));
  ::SendMessageW(toolbar_, TB_SETBUTTONINFOW, cmPort, reinterpret_cast<LPARAM>(&port));
  ::SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
  ::SendMessageW(statusBar_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  ::SendMessageW(statusBar_, WM_SIZE, 0, 0);
  UpdateStatusParts();
}

void TWin32Face::UpdateStatusParts() {
  const int textWidth = TextWidth(statusBar_, font_, Utf8ToWide(portPaneText_));
  const std::array<int, 2> edges{Scale(window::TMainWindow::PortPaneWidth(Unscale(textWidth))), -1};
  ::SendMessageW(statusBar_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  ::SendMessageW(statusBar_, SB_SETTEXTW, 0,
                 reinterpret_cast<LPARAM>(Utf8ToWide(portPaneText_).c_str()));
  if (progressVisible_) {
    ::SendMessageW(statusBar_, SB_SETTEXTW, 1 | SBT_OWNERDRAW, 0);
  } else {
    ::SendMessageW(statusBar_, SB_SETTEXTW, 1,
                   reinterpret_cast<LPARAM>(Utf8ToWide(statusText_).c_str()));
  }
  UpdateStatusTips();
}

void TWin32Face::UpdateStatusTips() {
  const std::array<std::wstring, 2> tips{
      Utf8ToWide(portPaneTip_), progressVisible_ ? std::wstring() : Utf8ToWide(statusTip_)};
  for (UINT_PTR part = 0; part < tips.size(); ++part) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = statusBar_;
    tool.uId = part;
    ::SendMessageW(statusBar_, SB_GETRECT, part, reinterpret_cast<LPARAM>(&tool.rect));
    ::SendMessageW(statusTips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = const_cast<wchar_t*>(tips[part].c_str());
    ::SendMessageW(statusTips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void TWin32Face::CentrePrompt() {
  const UINT dpi = ::GetDpiForWindow(main_);
  RECT frame{0, 0, MulDiv(kPromptClientSize.width, static_cast<int>(dpi), 96),
             MulDiv(kPromptClientSize.height, static_cast<int>(dpi), 96)};
  ::AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(::GetWindowLongW(prompt_, GWL_STYLE)),
                             FALSE, static_cast<DWORD>(::GetWindowLongW(prompt_, GWL_EXSTYLE)),
                             dpi);
  RECT owner{};
  ::GetWindowRect(main_, &owner);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  ::SetWindowPos(prompt_, nullptr, (owner.left + owner.right - width) / 2,
                 (owner.top + owner.bottom - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- window::IWindowFace ----------------------------------------------------------------

void TWin32Face::ShowBox(const std::string& text, window::TBoxIcon icon) {
  // Over whatever window of ours is active: the file dialog at start-up, else the main one.
  HWND owner = ::GetActiveWindow();
  if (owner == nullptr) owner = main_;
  const UINT type = MB_OK | (icon == window::TBoxIcon::Error ? MB_ICONERROR : 0);
  ::MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(window::kAppTitle).c_str(), type);
}

void TWin32Face::SetPromptVisible(bool visible) {
  if (visible) {
    CentrePrompt();
    ::ShowWindow(prompt_, SW_SHOW);
    ::SetWindowPos(prompt_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  } else {
    ::ShowWindow(prompt_, SW_HIDE);
  }
}

void TWin32Face::SetTransferControlsEnabled(bool enabled) {
  for (const int command : {cmBegin, cmFile, cmPort})
    ::SendMessageW(toolbar_, TB_ENABLEBUTTON, command, MAKELONG(enabled ? TRUE : FALSE, 0));
}

void TWin32Face::SetBeginEnabled(bool enabled) {
  ::SendMessageW(toolbar_, TB_ENABLEBUTTON, cmBegin, MAKELONG(enabled ? TRUE : FALSE, 0));
}

void TWin32Face::SetCaption(const std::string& text) {
  ::SetWindowTextW(main_, Utf8ToWide(text).c_str());
}

void TWin32Face::SetPortPane(const std::string& text, const std::string& tooltip) {
  portPaneText_ = text;
  portPaneTip_ = tooltip;
  UpdateStatusParts();
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

std::optional<std::string> TWin32Face::RunFileDialog() {
  std::wstring file(32768, L'\0');
  // Pairs of description and pattern, each ended by a NUL, the list by one more.
  std::wstring filter = Utf8ToWide(kOpenDialog.filterName);
  filter += L'\0';
  filter += Utf8ToWide(kOpenDialog.filterPattern);
  filter += L'\0';
  const std::wstring title = Utf8ToWide(kOpenDialog.title);
  const std::wstring extension = Utf8ToWide(kOpenDialog.defaultExtension);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = main_;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = extension.c_str();
  // No OFN_FILEMUSTEXIST: a typed name of a file that does not exist is taken too. No
  // OFN_NOCHANGEDIR: the folder shown becomes the current directory, where the converter
  // writes the image.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  if (!::GetOpenFileNameW(&dialog)) {
    const DWORD error = ::CommDlgExtendedError();
    if (error != 0) {
      throw std::runtime_error("Cannot show the file dialog (error " + std::to_string(error) + ")");
    }
    return std::nullopt;
  }
  const std::filesystem::path chosen(file.c_str());
  // The dialog changes the directory itself; this makes it certain on every system.
  ::SetCurrentDirectoryW(chosen.parent_path().c_str());
  return WideToUtf8(chosen.wstring());
}

void TWin32Face::SetProgressVisible(bool visible) {
  if (visible == progressVisible_) return;
  progressVisible_ = visible;
  UpdateStatusParts();
}

void TWin32Face::SetProgressTotal(std::uint32_t total) {
  progress_.SetTotalParts(total);
}

void TWin32Face::SetProgressComplete(std::uint32_t parts) {
  progress_.SetPartsComplete(parts);
}

void TWin32Face::SetStatusText(const std::string& text, const std::string& tooltip) {
  statusText_ = text;
  statusTip_ = tooltip;
  UpdateStatusParts();
}

void TWin32Face::PostPendingMessage() {
  ::PostMessageW(main_, kPendingMessage, 0, 0);
}

void TWin32Face::CloseWindow() {
  // Posted, so the handler that asked finishes before the window goes away.
  ::PostMessageW(main_, WM_CLOSE, 0, 0);
}

// --- messages ---------------------------------------------------------------------------

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

LRESULT TWin32Face::HandleMain(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam));
      return 0;
    case WM_NOTIFY:
      return HandleNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SETFOCUS:
      // The tool bar takes the keyboard: Tab and the arrows walk its buttons.
      if (toolbar_ != nullptr) ::SetFocus(toolbar_);
      return 0;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.hwndItem == statusBar_ && item.itemID == 1) {
        PaintProgressBarBuffered(item.hDC, item.rcItem, progress_.Percent(), barLook_, font_);
        return TRUE;
      }
      break;
    }
    case WM_TIMER:
      if (timer_ && wParam == timer_->Id()) {
        Handle([this] { timer_->Fire(); });
        return 0;
      }
      break;
    case kPendingMessage:
      Handle([this] { logic_->PendingMessageArrived(); });
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      CreateDpiResources();
      ::SendMessageW(promptLabel_, WM_SETFONT, reinterpret_cast<WPARAM>(promptFont_), TRUE);
      const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(main_, nullptr, suggested.left, suggested.top,
                     suggested.right - suggested.left, suggested.bottom - suggested.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return 0;
    }
    case WM_SYSCOLORCHANGE:
      barLook_ = SystemBarLook();
      ::SendMessageW(toolbar_, message, wParam, lParam);
      ::SendMessageW(statusBar_, message, wParam, lParam);
      return 0;
    case WM_DESTROY:
      // Reports still on their way from the port's threads are dropped: nothing may wait
      // for this thread any more.
      if (sync_) sync_->Shutdown();
      if (timer_) timer_->Disarm();
      if (logic_) Handle([this] { logic_->FormDestroy(); });
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      main_ = nullptr;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(main_, message, wParam, lParam);
}

LRESULT CALLBACK TWin32Face::MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* face =
        static_cast<TWin32Face*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    face->main_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(face));
  }
  auto* face = reinterpret_cast<TWin32Face*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (face == nullptr || face->main_ != window) {
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  try {
    return face->HandleMain(message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind through the system's frames.
    return 0;
  }
}

LRESULT CALLBACK TWin32Face::PromptProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (HWND label = ::GetWindow(window, GW_CHILD); label != nullptr)
        ::MoveWindow(label, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_CLOSE:
      // The operator may close the prompt at any time; that only hides it.
      ::ShowWindow(window, SW_HIDE);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace win32face
