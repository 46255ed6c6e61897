#include "win32face/win32_synchronizer.h"

#include <stdexcept>
#include <string>
#include <thread>

#include "platform/file.h"
#include "platform/utf8_win32.h"

namespace win32face {

namespace {

constexpr UINT kRunQueued = WM_APP + 1;
constexpr const wchar_t* kClassName = L"LoaderSerialHandOff";

}  // namespace

TWin32Synchronizer::TWin32Synchronizer(TRunner runner)
    : TSerHandOff(std::this_thread::get_id()), runner_(std::move(runner)) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TWin32Synchronizer::WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  ::RegisterClassExW(&wc);  // fails harmlessly when a second instance registered it already
  window_ =
      ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
  if (window_ == nullptr) {
    throw std::runtime_error("Cannot create the serial hand-off window. " +
                             platform::SystemErrorText(::GetLastError()));
  }
}

TWin32Synchronizer::~TWin32Synchronizer() {
  Shutdown();
  // Messages still posted to it go with the window.
  ::DestroyWindow(window_);
}

bool TWin32Synchronizer::Wake() {
  // Fails when the thread's queue is full or the window gone.
  return ::PostMessageW(window_, kRunQueued, 0, 0) != FALSE;
}

void TWin32Synchronizer::Run(const std::function<void()>& call) {
  if (runner_) {
    runner_(call);
  } else {
    call();
  }
}

LRESULT CALLBACK TWin32Synchronizer::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == kRunQueued) {
    auto* self = reinterpret_cast<TWin32Synchronizer*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    try {
      if (self != nullptr) self->RunQueued();
    } catch (...) {
      // Nothing may unwind through the system's frames; the runner shows what matters, and
      // the calls behind this one have messages of their own.
    }
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace win32face
