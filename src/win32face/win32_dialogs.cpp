// What the face shows over the main window: the power-on prompt, message boxes and the
// file-open dialog.
#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/utf8_win32.h"
#include "win32face/shell_dialog.h"
#include "win32face/win32_face.h"
#include "win32face/win32_face_shared.h"

namespace win32face {

using namespace face;
using platform::Utf8ToWide;
using platform::WideToUtf8;
using window::kOpenDialog;
using window::kPromptClientSize;

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
  // The folder shown becomes the current directory, where the converter writes the image,
  // confirmed or cancelled: the watch follows it. It outlives the dialog it is advised to.
  TFolderWatch watch;
  // The common item dialog: a hook on the older dialog would bring back its old look.
  TComRef<IFileOpenDialog> dialog = CreateOpenDialog();
  const std::wstring title = Utf8ToWide(kOpenDialog.title);
  const std::wstring filterName = Utf8ToWide(kOpenDialog.filterName);
  const std::wstring filterPattern = Utf8ToWide(kOpenDialog.filterPattern);
  const std::wstring extension = Utf8ToWide(kOpenDialog.defaultExtension);
  const COMDLG_FILTERSPEC filter{filterName.c_str(), filterPattern.c_str()};
  CheckDialogCall(dialog->SetTitle(title.c_str()));
  CheckDialogCall(dialog->SetFileTypes(1, &filter));
  CheckDialogCall(dialog->SetFileTypeIndex(1));
  CheckDialogCall(dialog->SetDefaultExtension(extension.c_str()));
  // A typed name of a file that does not exist is taken too; only file-system paths, which
  // the converter can open.
  FILEOPENDIALOGOPTIONS options = 0;
  CheckDialogCall(dialog->GetOptions(&options));
  options &= ~static_cast<FILEOPENDIALOGOPTIONS>(FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST);
  CheckDialogCall(dialog->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR));
  // It opens in the current folder, which a file dropped or named on the command line may
  // have changed, not in the one the system remembers for this program.
  std::error_code noFolder;
  const std::filesystem::path current = std::filesystem::current_path(noFolder);
  if (const TComRef<IShellItem> start = PathItem(current.wstring())) dialog->SetFolder(start.Get());

  DWORD cookie = 0;
  const bool watching = SUCCEEDED(dialog->Advise(&watch, &cookie));
  const HRESULT shown = dialog->Show(main_);
  if (watching) dialog->Unadvise(cookie);
  if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
    std::wstring folder = watch.Folder();
    if (folder.empty()) {
      TComRef<IShellItem> last;
      if (SUCCEEDED(dialog->GetFolder(last.Put()))) folder = ItemPath(last.Get());
    }
    if (!folder.empty()) ::SetCurrentDirectoryW(folder.c_str());
    return std::nullopt;
  }
  CheckDialogCall(shown);
  TComRef<IShellItem> result;
  CheckDialogCall(dialog->GetResult(result.Put()));
  const std::wstring path = ItemPath(result.Get());
  if (path.empty()) return std::nullopt;
  const std::filesystem::path chosen(WithDefaultExtension(path, extension));
  ::SetCurrentDirectoryW(chosen.parent_path().c_str());
  return WideToUtf8(chosen.wstring());
}

}  // namespace win32face
