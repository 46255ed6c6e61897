// The transfer session's reply limit as a system timer of the main window.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

#include "session/timer.h"

namespace win32face {

// SetTimer/KillTimer on a window of the user-interface thread. The window's procedure
// hands its WM_TIMER with this timer's id to Fire().
class TWin32Timer : public session::ITimer {
 public:
  TWin32Timer(HWND window, UINT_PTR id) : window_(window), id_(id) {}
  ~TWin32Timer() override { Disarm(); }
  TWin32Timer(const TWin32Timer&) = delete;
  TWin32Timer& operator=(const TWin32Timer&) = delete;

  void Arm(std::chrono::milliseconds after, std::function<void()> fire) override;
  void Disarm() override;
  // WM_TIMER with Id() arrived: runs the armed call once. A message that was already
  // queued when the timer was disarmed finds nothing to run.
  void Fire();
  UINT_PTR Id() const { return id_; }

 private:
  HWND window_;
  UINT_PTR id_;
  std::function<void()> fire_;
};

}  // namespace win32face
