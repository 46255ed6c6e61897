// The hand-off of the serial component's reports to the user-interface thread, through
// window messages.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/ser_sync.h"

namespace win32face {

// Runs handed-off calls on the thread that created it (the user-interface thread), from
// the window procedure of a hidden message window. Modal loops (message boxes, the file
// dialog) dispatch posted messages to every window of their thread, so the calls are
// served there too: one at a time, in the order handed off. The handing thread blocks
// until its call has run.
//
// Shutdown() releases every blocked caller and makes later calls return at once without
// running, so a background thread that hands off a report while the window is closing
// never holds up the shutdown.
class TWin32Synchronizer : public serial::ISerSynchronizer {
 public:
  // Runs one call on the user-interface thread; it decides what an exception that leaves
  // the call means (the window shows it). By default the call just runs.
  using TRunner = std::function<void(const std::function<void()>&)>;

  explicit TWin32Synchronizer(TRunner runner = {});
  ~TWin32Synchronizer() override;
  TWin32Synchronizer(const TWin32Synchronizer&) = delete;
  TWin32Synchronizer& operator=(const TWin32Synchronizer&) = delete;

  void Synchronize(const std::function<void()>& call) override;
  void Shutdown();
  bool IsShutDown() const;

 private:
  struct TPending {
    std::function<void()> call;
    bool finished = false;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Runs every call queued so far, in order.
  void RunQueued();
  // One call, through the runner when there is one.
  void Run(const std::function<void()>& call);

  TRunner runner_;
  DWORD threadId_;
  HWND window_ = nullptr;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<TPending>> queue_;
  bool shutDown_ = false;
  int callers_ = 0;  // threads inside Synchronize, waiting for their call
};

}  // namespace win32face
