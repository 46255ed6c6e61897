#include "controls/progress_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace controls {

long double RoundHalfEven(long double value) {
  const long double lower = std::floor(value);
  // Exact: value and its floor share the exponent range, so the fraction is representable.
  const long double fraction = value - lower;
  if (fraction > 0.5L) return lower + 1.0L;
  if (fraction < 0.5L) return lower;
  return std::fmod(lower, 2.0L) == 0.0L ? lower : lower + 1.0L;
}

std::uint16_t PercentOf(std::uint32_t parts, std::uint32_t total) {
  const long double ratio = static_cast<long double>(parts) / static_cast<long double>(total);
  return static_cast<std::uint16_t>(RoundHalfEven(ratio * 100.0L));
}

int FillExtent(int percent, int barExtent) {
  if (percent >= 100) return barExtent;
  // The product is exact in integers; only the division is done in floating point.
  const long long product = static_cast<long long>(percent) * barExtent;
  return static_cast<int>(RoundHalfEven(static_cast<long double>(product) / 100.0L));
}

std::string PercentText(unsigned percent) {
  char text[16];
  std::snprintf(text, sizeof text, "%u%%", percent);
  return text;
}

void TProgressModel::SetTotalParts(std::uint32_t value) {
  value = std::min(value, kMaxParts);
  if (value == totalParts_) return;
  totalParts_ = value;
  if (loading_) return;
  partsComplete_ = 0;
  SetPercent(0);
}

void TProgressModel::SetPartsComplete(std::uint32_t value) {
  // Compared before clamping: an over-count differs from the clamped value and
  // recomputes, which yields the same 100 % and so no change notification.
  if (value == partsComplete_) return;
  partsComplete_ = std::min(value, totalParts_);
  if (loading_ || totalParts_ == 0) return;
  SetPercent(PercentOf(partsComplete_, totalParts_));
}

void TProgressModel::SetPercent(std::uint16_t value) {
  if (value == percent_) return;
  percent_ = value;
  if (onChange_) onChange_(value);
  if (repaint_) repaint_();
}

}  // namespace controls
