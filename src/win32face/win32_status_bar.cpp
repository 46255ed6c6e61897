// The status bar: the port pane, the status text and the owner-drawn progress bar, with
// a hint for each part.

#include <array>

#include "platform/utf8_win32.h"
#include "win32face/win32_face.h"
#include "win32face/win32_face_shared.h"

namespace win32face {

using namespace face;
using platform::Utf8ToWide;

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
  // The progress bar is the second part: the system's progress control, so that screen
  // readers know it as one, with its name and value, painted as the loader's own bar. The
  // percentage shows at once, not at the window's next paint cycle.
  progressBar_ =
      ::CreateWindowExW(0, PROGRESS_CLASSW, platform::Utf8ToWide(window::kProgressBarName).c_str(),
                        WS_CHILD, 0, 0, 0, 0, statusBar_, nullptr, instance_, nullptr);
  ::SendMessageW(progressBar_, PBM_SETRANGE32, 0, 100);
  ::SetWindowSubclass(progressBar_, &TWin32Face::ProgressPaint, 2,
                      reinterpret_cast<DWORD_PTR>(this));
  progress_.SetRepaint([this] {
    ::SendMessageW(progressBar_, PBM_SETPOS, progress_.Percent(), 0);
    if (!progressVisible_) return;
    ::InvalidateRect(progressBar_, nullptr, FALSE);
    ::UpdateWindow(progressBar_);
  });
}

LRESULT CALLBACK TWin32Face::ProgressPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR /*id*/, DWORD_PTR self) {
  auto* face = reinterpret_cast<TWin32Face*>(self);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      const HDC dc = ::BeginPaint(window, &paint);
      RECT client{};
      ::GetClientRect(window, &client);
      PaintProgressBarBuffered(dc, client, face->progress_.Percent(), face->barLook_, face->font_);
      ::EndPaint(window, &paint);
      return 0;
    }
    default:
      return ::DefSubclassProc(window, message, wParam, lParam);
  }
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
  // The progress control lies over the part it is drawn in, shown only with it.
  RECT part{};
  ::SendMessageW(statusBar_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
  ::SetWindowPos(progressBar_, HWND_TOP, part.left, part.top, part.right - part.left,
                 part.bottom - part.top,
                 SWP_NOACTIVATE | (progressVisible_ ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
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

void TWin32Face::SetPortPane(const std::string& text, const std::string& tooltip) {
  portPaneText_ = text;
  portPaneTip_ = tooltip;
  UpdateStatusParts();
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

}  // namespace win32face
