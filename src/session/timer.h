// A one-shot timer on the user-interface thread. Each front end provides one (a toolkit
// timer in the windows, a deadline in loader-cli's wait loop); the transfer session uses it
// for its reply limit, so the engine itself keeps no timer.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace session {

class ITimer {
 public:
  virtual ~ITimer() = default;
  // (Re)arms the timer: `fire` runs once on the user-interface thread after `after`,
  // unless Disarm or another Arm comes first.
  virtual void Arm(std::chrono::milliseconds after, std::function<void()> fire) = 0;
  virtual void Disarm() = 0;
};

// A timer for loops that wait for something anyway: they ask for the deadline, wait at
// most until then and call FireIfDue. Tests drive it with their own clock.
class TDeadlineTimer : public ITimer {
 public:
  using Clock = std::chrono::steady_clock;

  void Arm(std::chrono::milliseconds after, std::function<void()> fire) override {
    deadline_ = Clock::now() + after;
    fire_ = std::move(fire);
  }
  void Disarm() override {
    deadline_.reset();
    fire_ = nullptr;
  }
  std::optional<Clock::time_point> Deadline() const { return deadline_; }
  // Runs the armed call when its deadline has passed; true when it ran.
  bool FireIfDue(Clock::time_point now = Clock::now()) {
    if (!deadline_ || now < *deadline_) return false;
    auto fire = std::move(fire_);
    Disarm();
    if (fire) fire();
    return true;
  }

 private:
  std::optional<Clock::time_point> deadline_;
  std::function<void()> fire_;
};

}  // namespace session
