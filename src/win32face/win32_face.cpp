// The main window's frame and its life: classes, creation in steps, fonts and pictures in
// the monitor's scale, layout, the message loop and the window procedures.
#include "win32face/win32_face.h"

#include <array>
#include <stdexcept>

#include "platform/file.h"
#include "platform/utf8_win32.h"
#include "win32face/resource.h"
#include "win32face/shell_dialog.h"
#include "win32face/toolbar_images.h"
#include "win32face/win32_face_shared.h"

namespace win32face {

using namespace face;
using platform::Utf8ToWide;
using window::kMainClientSize;
using window::kPortButtonWidth;
using window::kPromptClientSize;
using window::kPromptFontHeight;

namespace {

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
  // The file dialog is a COM object of the shell, made and shown on this thread.
  const TComApartment com;
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
  // The window colour (white), not the button face.
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
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
  // A HEX file dropped from Explorer is chosen.
  ::DragAcceptFiles(main_, TRUE);
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

void TWin32Face::FilesDropped(HDROP drop) {
  std::vector<std::string> files;
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    name.resize(::DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
    files.push_back(platform::WideToUtf8(name));
  }
  ::DragFinish(drop);
  if (logic_) Handle([this, &files] { logic_->FilesDropped(files); });
}

void TWin32Face::SetCaption(const std::string& text) {
  ::SetWindowTextW(main_, Utf8ToWide(text).c_str());
}

void TWin32Face::PostPendingMessage() {
  ::PostMessageW(main_, kPendingMessage, 0, 0);
}

void TWin32Face::CloseWindow() {
  // Posted, so the handler that asked finishes before the window goes away.
  ::PostMessageW(main_, WM_CLOSE, 0, 0);
}

// --- messages ---------------------------------------------------------------------------

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
    case WM_DROPFILES:
      FilesDropped(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_CLOSE:
      // In the middle of a transfer the operator is asked first.
      if (logic_ && !logic_->CloseQuery()) return 0;
      break;
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
  if (message == WM_NCCREATE) {
    ::SetWindowLongPtrW(
        window, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  auto* face = reinterpret_cast<TWin32Face*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_SIZE:
      if (HWND label = ::GetWindow(window, GW_CHILD); label != nullptr)
        ::MoveWindow(label, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_KEYDOWN:
      if (wParam != VK_ESCAPE) break;
      [[fallthrough]];
    case WM_CLOSE:
      // The operator may close the prompt at any time (Esc, its close button); that ends
      // the wait for the device.
      ::ShowWindow(window, SW_HIDE);
      if (face != nullptr && face->logic_) face->Handle([face] { face->logic_->PromptClosed(); });
      return 0;
    case WM_CTLCOLORSTATIC:
      // The label on the window colour, as the window itself.
      ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace win32face
