// What the face shows over the main window: the power-on prompt, message boxes and the
// file-open dialog.
#include <windows.h>
// after windows.h, whose types it uses
#include <commdlg.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/utf8_win32.h"
#include "win32face/win32_face.h"
#include "win32face/win32_face_shared.h"

namespace win32face {

using namespace face;
using platform::Utf8ToWide;
using platform::WideToUtf8;
using window::kOpenDialog;
using window::kPromptClientSize;

namespace {

// Keeps the folder the dialog shows (in lCustData), so that it becomes the current one also
// when the dialog is cancelled.
UINT_PTR CALLBACK FolderWatch(HWND dialog, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
  if (message != WM_NOTIFY) return 0;
  const auto& notice = *reinterpret_cast<const OFNOTIFYW*>(lParam);
  if (notice.hdr.code != CDN_FOLDERCHANGE) return 0;
  auto& folder = *reinterpret_cast<std::wstring*>(notice.lpOFN->lCustData);
  std::wstring path(32768, L'\0');
  const LRESULT n =
      ::SendMessageW(::GetParent(dialog), CDM_GETFOLDERPATH, static_cast<WPARAM>(path.size()),
                     reinterpret_cast<LPARAM>(path.data()));
  if (n > 0) folder.assign(path.c_str());
  return 0;
}

}  // namespace

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

void TWin32Face::ShowBox(const std::string& text, window::TBoxIcon icon) {
  // Over whatever window of ours is active: the file dialog at start-up, else the main one.
  HWND owner = ::GetActiveWindow();
  if (owner == nullptr) owner = main_;
  const UINT type = MB_OK | (icon == window::TBoxIcon::biError ? MB_ICONERROR : 0);
  ::MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(window::kAppTitle).c_str(), type);
}

bool TWin32Face::AskQuestion(const std::string& text) {
  HWND owner = ::GetActiveWindow();
  if (owner == nullptr) owner = main_;
  const std::wstring title = Utf8ToWide(window::kAppTitle);
  const std::wstring body = Utf8ToWide(text);
  const std::wstring yes = Utf8ToWide(window::kYesCaption);
  const std::wstring no = Utf8ToWide(window::kNoCaption);
  // A task dialog, since a message box's buttons speak the system's language and its
  // «Нет» would not answer Esc. «Нет» carries the cancel command, which Esc and the close
  // button give.
  const TASKDIALOG_BUTTON buttons[] = {{IDYES, yes.c_str()}, {IDCANCEL, no.c_str()}};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner;
  config.hInstance = instance_;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.pszWindowTitle = title.c_str();
  config.pszMainIcon = TD_WARNING_ICON;
  config.pszContent = body.c_str();
  config.cButtons = 2;
  config.pButtons = buttons;
  config.nDefaultButton = IDCANCEL;
  int pressed = IDCANCEL;
  if (FAILED(::TaskDialogIndirect(&config, &pressed, nullptr, nullptr))) {
    return ::MessageBoxW(owner, body.c_str(), title.c_str(),
                         MB_YESNO | MB_DEFBUTTON2 | MB_ICONWARNING) == IDYES;
  }
  return pressed == IDYES;
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
  // No OFN_FILEMUSTEXIST: a typed name of a file that does not exist is taken too. The
  // folder shown becomes the current directory, where the converter writes the image,
  // confirmed or cancelled: the hook follows it.
  std::wstring shown;
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_ENABLEHOOK;
  dialog.lpfnHook = &FolderWatch;
  dialog.lCustData = reinterpret_cast<LPARAM>(&shown);
  if (!::GetOpenFileNameW(&dialog)) {
    const DWORD error = ::CommDlgExtendedError();
    if (error != 0) {
      throw std::runtime_error("Cannot show the file dialog (error " + std::to_string(error) + ")");
    }
    if (!shown.empty()) ::SetCurrentDirectoryW(shown.c_str());
    return std::nullopt;
  }
  const std::filesystem::path chosen(file.c_str());
  // The dialog changes the directory itself; this makes it certain on every system.
  ::SetCurrentDirectoryW(chosen.parent_path().c_str());
  return WideToUtf8(chosen.wstring());
}

}  // namespace win32face
