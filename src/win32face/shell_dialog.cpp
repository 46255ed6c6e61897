// COM on the user-interface thread and the shell's items for the common item dialog.
#include "win32face/shell_dialog.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace win32face {

TComApartment::TComApartment()
    : joined_(
          SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
}

TComApartment::~TComApartment() {
  if (joined_) ::CoUninitialize();
}

TComRef<IShellItem> PathItem(const std::wstring& path) {
  TComRef<IShellItem> item;
  if (FAILED(::SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem,
                                           reinterpret_cast<void**>(item.Put())))) {
    item.Reset();
  }
  return item;
}

std::wstring ItemPath(IShellItem* item) {
  if (item == nullptr) return {};
  PWSTR text = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &text)) || text == nullptr) return {};
  std::wstring path(text);
  ::CoTaskMemFree(text);
  return path;
}

std::wstring WithDefaultExtension(const std::wstring& path, const std::wstring& extension) {
  const std::wstring own = std::filesystem::path(path).extension().wstring();
  if (own.size() > 1) {
    if (::CompareStringOrdinal(own.c_str() + 1, -1, extension.c_str(), -1, TRUE) == CSTR_EQUAL) {
      return path;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, own.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      ::RegCloseKey(key);
      return path;
    }
  }
  return path + L"." + extension;
}

void CheckDialogCall(HRESULT result) {
  if (SUCCEEDED(result)) return;
  // As the system writes an HRESULT, so that it can be looked up.
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  throw std::runtime_error(std::string("Cannot show the file dialog (error ") + code + ")");
}

TComRef<IFileOpenDialog> CreateOpenDialog() {
  TComRef<IFileOpenDialog> dialog;
  CheckDialogCall(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IFileOpenDialog, reinterpret_cast<void**>(dialog.Put())));
  return dialog;
}

HRESULT STDMETHODCALLTYPE TFolderWatch::QueryInterface(REFIID id, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IFileDialogEvents)) {
    *object = static_cast<IFileDialogEvents*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TFolderWatch::AddRef() {
  return static_cast<ULONG>(::InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE TFolderWatch::Release() {
  return static_cast<ULONG>(::InterlockedDecrement(&references_));
}

HRESULT STDMETHODCALLTYPE TFolderWatch::OnFolderChange(IFileDialog* dialog) {
  TComRef<IShellItem> folder;
  if (dialog != nullptr && SUCCEEDED(dialog->GetFolder(folder.Put()))) {
    // A place outside the file system (the computer, a library) cannot be current: the
    // last real folder stays.
    std::wstring path = ItemPath(folder.Get());
    if (!path.empty()) folder_ = std::move(path);
  }
  return S_OK;
}

}  // namespace win32face
