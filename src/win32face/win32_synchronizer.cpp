#include "win32face/win32_synchronizer.h"

#include <stdexcept>
#include <string>

#include "platform/file.h"
#include "platform/utf8_win32.h"

namespace win32face {

namespace {

constexpr UINT kRunQueued = WM_APP + 1;
constexpr const wchar_t* kClassName = L"LoaderSerialHandOff";

}  // namespace

TWin32Synchronizer::TWin32Synchronizer(TRunner runner)
    : runner_(std::move(runner)), threadId_(::GetCurrentThreadId()) {
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
  {
    // A released caller still has to leave Synchronize, which touches these members.
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return callers_ == 0; });
  }
  ::DestroyWindow(window_);
}

void TWin32Synchronizer::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    queue_.clear();
  }
  done_.notify_all();
}

bool TWin32Synchronizer::IsShutDown() const {
  std::lock_guard lock(mutex_);
  return shutDown_;
}

void TWin32Synchronizer::Synchronize(const std::function<void()>& call) {
  if (::GetCurrentThreadId() == threadId_) {
    // Already on the user-interface thread: blocking would wait for ourselves.
    if (!IsShutDown()) Run(call);
    return;
  }
  auto pending = std::make_shared<TPending>();
  pending->call = call;
  std::unique_lock lock(mutex_);
  if (shutDown_) return;
  queue_.push_back(pending);
  // One message per call; a message that finds the queue already drained does nothing.
  if (!::PostMessageW(window_, kRunQueued, 0, 0)) {
    // The queue is full or the window gone: the call cannot reach the user-interface
    // thread, and waiting for it would never end.
    std::erase(queue_, pending);
    return;
  }
  ++callers_;
  done_.wait(lock, [&] { return pending->finished || shutDown_; });
  --callers_;
  // The destructor may be waiting for the last caller to leave.
  if (shutDown_) done_.notify_all();
}

void TWin32Synchronizer::Run(const std::function<void()>& call) {
  if (runner_) {
    runner_(call);
  } else {
    call();
  }
}

void TWin32Synchronizer::RunQueued() {
  for (;;) {
    std::shared_ptr<TPending> pending;
    {
      std::lock_guard lock(mutex_);
      if (shutDown_ || queue_.empty()) return;
      pending = queue_.front();
      queue_.pop_front();
    }
    try {
      Run(pending->call);
    } catch (...) {
      // Nothing may unwind through the system's frames; the runner shows what matters.
    }
    {
      std::lock_guard lock(mutex_);
      pending->finished = true;
    }
    done_.notify_all();
  }
}

LRESULT CALLBACK TWin32Synchronizer::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == kRunQueued) {
    auto* self = reinterpret_cast<TWin32Synchronizer*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) self->RunQueued();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace win32face
