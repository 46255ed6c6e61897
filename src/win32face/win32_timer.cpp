#include "win32face/win32_timer.h"

#include <algorithm>
#include <stdexcept>

#include "platform/file.h"
#include "platform/utf8_win32.h"

namespace win32face {

void TWin32Timer::Arm(std::chrono::milliseconds after, std::function<void()> fire) {
  // The system takes at least USER_TIMER_MINIMUM and at most USER_TIMER_MAXIMUM.
  const auto ms = std::clamp<std::chrono::milliseconds::rep>(after.count(), USER_TIMER_MINIMUM,
                                                             USER_TIMER_MAXIMUM);
  fire_ = std::move(fire);
  if (::SetTimer(window_, id_, static_cast<UINT>(ms), nullptr) == 0) {
    fire_ = nullptr;
    throw std::runtime_error("Cannot start the reply timer. " +
                             platform::SystemErrorText(::GetLastError()));
  }
}

void TWin32Timer::Disarm() {
  ::KillTimer(window_, id_);
  fire_ = nullptr;
}

void TWin32Timer::Fire() {
  auto fire = std::move(fire_);
  Disarm();
  if (fire) fire();
}

}  // namespace win32face
