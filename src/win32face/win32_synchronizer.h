// The hand-off of the serial component's reports to the user-interface thread, through
// window messages.
#pragma once

#include <windows.h>

#include <functional>

#include "serial/ser_handoff.h"

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
class TWin32Synchronizer : public serial::TSerHandOff {
 public:
  // Runs one call on the user-interface thread; it decides what an exception that leaves
  // the call means (the window shows it). By default the call just runs.
  using TRunner = std::function<void(const std::function<void()>&)>;

  explicit TWin32Synchronizer(TRunner runner = {});
  ~TWin32Synchronizer() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // One message per queued call; a message that finds the queue already drained does
  // nothing.
  bool Wake() override;
  void Run(const std::function<void()>& call) override;

  TRunner runner_;
  HWND window_ = nullptr;
};

}  // namespace win32face
