// The serial hand-off through window messages, and the window timer.
#include "win32face/win32_synchronizer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "handoff_contract.h"
#include "win32face/win32_timer.h"

namespace win32face {
namespace {

// Serves this thread's messages until `done` is signalled; each timer message of `timer`
// goes to it. No polling: the thread sleeps until a message or the signal comes.
void ServeUntil(HANDLE done, TWin32Timer* timer = nullptr) {
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (timer != nullptr && message.message == WM_TIMER && message.wParam == timer->Id()) {
        timer->Fire();
        continue;
      }
      ::DispatchMessageW(&message);
    }
    if (::MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0)
      return;
  }
}

struct TEvent {
  HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~TEvent() { ::CloseHandle(handle); }
  void Set() const { ::SetEvent(handle); }
};

TEST(Win32Synchronizer, RunsCallsOnUiThreadInOrderAndBlocksCaller) {
  TWin32Synchronizer sync;
  const DWORD ui = ::GetCurrentThreadId();
  std::vector<int> order;  // touched only on the UI thread
  std::vector<bool> seenRun;
  TEvent finished;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) {
      bool ran = false;
      sync.Synchronize([&, i] {
        EXPECT_EQ(::GetCurrentThreadId(), ui);
        order.push_back(i);
        ran = true;
      });
      seenRun.push_back(ran);  // the call has run by the time Synchronize returns
    }
    finished.Set();
  });
  ServeUntil(finished.handle);
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(seenRun, (std::vector<bool>{true, true, true}));
}

TEST(Win32Synchronizer, ServedInsideModalMessageBox) {
  TWin32Synchronizer sync;
  std::atomic<bool> ran = false;
  std::thread worker([&] {
    sync.Synchronize([&] { ran = true; });
    // Only the box's own loop can have run the call: close the box now.
    HWND box = ::FindWindowW(L"#32770", L"win32face hand-off test");
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  ::MessageBoxW(nullptr, L"served inside", L"win32face hand-off test", MB_OK);
  sync.Shutdown();  // a box that could not be shown must not leave the worker waiting
  worker.join();
  EXPECT_TRUE(ran);
}

TEST(Win32Synchronizer, ShutdownReleasesBlockedAndLaterCallersWithoutRunning) {
  TWin32Synchronizer sync;
  std::atomic<int> runs = 0;
  TEvent posted;
  std::thread worker([&] {
    sync.Synchronize([&] { ++runs; });  // blocks: the UI thread serves nothing
    sync.Synchronize([&] { ++runs; });  // after the shutdown: returns at once
  });
  // The first call is queued once its message is in this thread's queue.
  MSG message;
  while (!::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE))
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_POSTMESSAGE);
  sync.Shutdown();
  worker.join();
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  EXPECT_EQ(runs, 0);
  EXPECT_TRUE(sync.IsShutDown());
}

// The window goes while a serial thread still waits in a hand-off: the destructor releases
// the thread and waits until it has left, rather than leaving it a freed mutex to wake on.
TEST(Win32Synchronizer, DestroyedWhileACallerWaitsReleasesItFirst) {
  auto sync = std::make_unique<TWin32Synchronizer>();
  TWin32Synchronizer* const shared = sync.get();
  std::atomic<int> runs = 0;
  std::thread worker([shared, &runs] { shared->Synchronize([&runs] { ++runs; }); });
  MSG message;
  while (!::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE))
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_POSTMESSAGE);
  sync.reset();
  worker.join();
  EXPECT_EQ(runs, 0);
}

TEST(Win32Synchronizer, CallFromUiThreadRunsDirectlyThroughTheRunner) {
  int viaRunner = 0;
  TWin32Synchronizer sync([&](const std::function<void()>& call) {
    ++viaRunner;
    call();
  });
  bool ran = false;
  sync.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(viaRunner, 1);
}

TEST(Win32Timer, FiresOnceAndADisarmedCallNever) {
  const HWND window =
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  TWin32Timer timer(window, 7);
  TEvent fired;
  int early = 0;
  int late = 0;
  timer.Arm(std::chrono::milliseconds(1), [&] { ++early; });
  timer.Disarm();
  timer.Arm(std::chrono::milliseconds(1), [&] {
    ++late;
    fired.Set();
  });
  ServeUntil(fired.handle, &timer);
  timer.Fire();  // a timer message already queued finds nothing to run
  EXPECT_EQ(early, 0);
  EXPECT_EQ(late, 1);
  ::DestroyWindow(window);
}

struct TWin32Traits {
  using TSync = TWin32Synchronizer;
  static std::unique_ptr<TSync> Make() { return std::make_unique<TSync>(); }
  // Dispatches this thread's messages until done(), sleeping between them; 5 s at most.
  static bool ServeUntil(TSync& /*sync*/, const std::function<bool()>& done) {
    const ULONGLONG until = ::GetTickCount64() + 5000;
    for (;;) {
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
      if (done()) return true;
      if (::GetTickCount64() > until) return false;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, HandOffContractTest, TWin32Traits);

}  // namespace
}  // namespace win32face
