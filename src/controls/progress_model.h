// Progress arithmetic shared by the window's progress bar and the command line:
// parts of a job -> whole percentage -> fill extent and text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace controls {

// The largest part count a bar accepts (a signed 32-bit count that is never negative).
inline constexpr std::uint32_t kMaxParts = 2147483647u;

// Rounds to the nearest integer, ties to the even neighbour, independently of the
// floating-point environment's rounding mode.
long double RoundHalfEven(long double value);

// PartsComplete / TotalParts * 100 in extended precision, rounded half to even.
// total must not be 0; parts must not exceed total.
std::uint16_t PercentOf(std::uint32_t parts, std::uint32_t total);

// Pixels of a bar of barExtent pixels that percent fills: the whole bar from 100 up,
// otherwise percent * barExtent / 100 rounded half to even.
int FillExtent(int percent, int barExtent);

// The text a bar writes over itself, e.g. "42%".
std::string PercentText(unsigned percent);

// TotalParts / PartsComplete / Percent with the couplings of the progress bar:
// a new total resets the progress, PartsComplete is clamped to the total, and
// Percent follows PartsComplete. OnChange and the repaint hook run only when
// Percent actually changes.
class TProgressModel {
 public:
  std::uint32_t TotalParts() const { return totalParts_; }
  // Values above kMaxParts are taken as kMaxParts.
  void SetTotalParts(std::uint32_t value);

  std::uint32_t PartsComplete() const { return partsComplete_; }
  void SetPartsComplete(std::uint32_t value);

  std::uint16_t Percent() const { return percent_; }
  void SetPercent(std::uint16_t value);

  // While loading (a control being restored from its stored form) the part counts
  // are only stored; nothing derived is recomputed.
  bool Loading() const { return loading_; }
  void SetLoading(bool loading) { loading_ = loading; }

  // Called with the new percentage after Percent has changed.
  void SetOnChange(std::function<void(int percent)> handler) { onChange_ = std::move(handler); }
  // Called after OnChange whenever Percent has changed (the widget repaints here).
  void SetRepaint(std::function<void()> hook) { repaint_ = std::move(hook); }

 private:
  std::uint32_t totalParts_ = 0;
  std::uint32_t partsComplete_ = 0;
  std::uint16_t percent_ = 0;
  bool loading_ = false;
  std::function<void(int)> onChange_;
  std::function<void()> repaint_;
};

}  // namespace controls
