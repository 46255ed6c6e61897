// What the shell's common item dialog needs around it: COM on the user-interface thread,
// owned interface pointers, shell items as paths and a watch on the folder the dialog shows.
#pragma once

#include <windows.h>
// after windows.h, whose types it uses
#include <shobjidl.h>

#include <string>

namespace win32face {

// Puts the calling thread into a single-threaded apartment for the object's life, as the
// shell's dialogs need. A thread already in one stays there (the join is counted and undone
// alike); a thread in the multithreaded apartment keeps it, and Joined() says so.
class TComApartment {
 public:
  TComApartment();
  ~TComApartment();
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;
  bool Joined() const { return joined_; }

 private:
  bool joined_;
};

// One reference to a COM object, released when this goes.
template <class T>
class TComRef {
 public:
  TComRef() = default;
  ~TComRef() { Reset(); }
  TComRef(TComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  TComRef& operator=(TComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;

  // For a call that hands out a reference: drops the one held first.
  T** Put() {
    Reset();
    return &p_;
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// The shell item of a file-system path; empty when the shell does not know it.
TComRef<IShellItem> PathItem(const std::wstring& path);
// The file-system path of a shell item; empty for one outside the file system (a library,
// the computer itself).
std::wstring ItemPath(IShellItem* item);

// The chosen path with "." and `extension` appended when its name has no extension the
// system knows (none, or one without an entry under HKEY_CLASSES_ROOT), as a typed name
// gets the filter's extension: the item dialog leaves that to the system, and not every
// one does it for an open dialog.
std::wstring WithDefaultExtension(const std::wstring& path, const std::wstring& extension);

// Throws std::runtime_error "Cannot show the file dialog (error 0x...)" with the HRESULT of
// a failed call that sets up or shows the file dialog.
void CheckDialogCall(HRESULT result);
// The common file-open dialog; CheckDialogCall's error when the system cannot make one (no
// COM on this thread, no shell).
TComRef<IFileOpenDialog> CreateOpenDialog();

// Follows the folder a file dialog shows, for the case that it is cancelled: the dialog
// then has no result to ask. Lives on its caller's stack, longer than the dialog it is
// advised to, so its reference count only guards against misuse.
class TFolderWatch final : public IFileDialogEvents {
 public:
  TFolderWatch() = default;
  ~TFolderWatch() = default;
  TFolderWatch(const TFolderWatch&) = delete;
  TFolderWatch& operator=(const TFolderWatch&) = delete;

  // The last file-system folder the dialog showed; empty while it showed none.
  const std::wstring& Folder() const { return folder_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IFileDialogEvents: only the folder change matters; the rest keep the dialog's default.
  HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog* dialog) override;
  HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*,
                                             FDE_SHAREVIOLATION_RESPONSE*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*,
                                        FDE_OVERWRITE_RESPONSE*) override {
    return E_NOTIMPL;
  }

 private:
  LONG references_ = 1;
  std::wstring folder_;
};

}  // namespace win32face
