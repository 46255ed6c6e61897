// The progress bar of the loader window: a control that paints its whole area
// itself, fills the share of the job done and writes the percentage over the bar
// with its colours swapped at the fill edge.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "controls/progress_model.h"

namespace controls {

enum TBarStyle : std::uint8_t { bsTraditional, bsLED };
enum TOrientation : std::uint8_t { orHorizontal, orVertical };

// Frame styles. fsStatus is a one-pixel sunken edge; fsLowered/fsRaised are the
// two-pixel 3D edges; fsFlat/fsFlatBold are lines in the adjusted FlatColor.
enum TFrameStyle : std::uint8_t {
  fsNone,
  fsFlat,
  fsFlatBold,
  fsGroove,
  fsBump,
  fsLowered,
  fsButtonDown,
  fsRaised,
  fsButtonUp,
  fsStatus,
  fsPopup,
};

// Pixels a frame style takes on every side.
int FrameWidth(TFrameStyle style);

class TUiProgressBar : public QWidget {
 public:
  using TProgressChangeEvent = std::function<void(TUiProgressBar& sender, int percent)>;

  explicit TUiProgressBar(QWidget* parent = nullptr);

  QSize sizeHint() const override { return {200, 24}; }

  // Progress. A new total resets PartsComplete and Percent to 0; PartsComplete is
  // clamped to TotalParts; a changed Percent calls OnChange and repaints at once.
  std::uint32_t TotalParts() const { return model_.TotalParts(); }
  void SetTotalParts(std::uint32_t value) { model_.SetTotalParts(value); }
  std::uint32_t PartsComplete() const { return model_.PartsComplete(); }
  void SetPartsComplete(std::uint32_t value) { model_.SetPartsComplete(value); }
  std::uint16_t Percent() const { return model_.Percent(); }
  void SetPercent(std::uint16_t value) { model_.SetPercent(value); }
  void SetOnChange(TProgressChangeEvent handler) { onChange_ = std::move(handler); }

  // Appearance. Setting the current value does nothing; a change repaints.
  bool ShowPercent() const { return showPercent_; }
  void SetShowPercent(bool value);
  // bsTraditional also shows the percentage with no interior offset; bsLED hides
  // it and keeps a one-pixel offset.
  TBarStyle BarStyle() const { return barStyle_; }
  void SetBarStyle(TBarStyle value);
  // Follows the shape whenever the control is moved or resized: vertical when
  // taller than wide. May be set explicitly in between.
  TOrientation Orientation() const;
  void SetOrientation(TOrientation value);
  // The fill colour; also becomes the font colour (the palette's WindowText).
  QColor BarColor() const { return barColor_; }
  void SetBarColor(const QColor& value);
  QColor BackColor() const { return backColor_; }
  void SetBackColor(const QColor& value);
  QColor BorderColor() const { return borderColor_; }
  void SetBorderColor(const QColor& value);
  TFrameStyle BorderOuter() const { return borderOuter_; }
  void SetBorderOuter(TFrameStyle value);
  // Negative widths are taken as 0.
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value);
  TFrameStyle BorderInner() const { return borderInner_; }
  void SetBorderInner(TFrameStyle value);
  std::uint8_t InteriorOffset() const { return interiorOffset_; }
  void SetInteriorOffset(std::uint8_t value);
  // 1 to 100; values outside are clamped.
  int NumSegments() const { return numSegments_; }
  void SetNumSegments(int value);
  // Gap between LED segments; the traditional bar does not use it.
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value);
  QColor FlatColor() const { return flatColor_; }
  void SetFlatColor(const QColor& value);
  // Percent by which the flat frame lines are lightened (negative: darkened).
  int FlatColorAdjustment() const { return flatColorAdjustment_; }
  void SetFlatColorAdjustment(int value);
  // Kept for the window's settings; the platform-styled frame is drawn as the plain one.
  bool ThemeAware() const { return themeAware_; }
  void SetThemeAware(bool value);

  // The rectangle inside the frames that the bar fills, in control coordinates.
  QRect BarRect() const;
  // The control's picture as the off-screen image that painting copies onto it.
  QImage Render() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void FollowShape() const;
  void Changed();
  void PaintFrame(class QPainter& painter, QRect& rect) const;
  void PaintFrameStyle(QPainter& painter, QRect& rect, TFrameStyle style) const;
  void PaintTraditional(QPainter& painter, const QRect& bar) const;
  void PaintLed(QPainter& painter, const QRect& bar) const;

  TProgressModel model_;
  TProgressChangeEvent onChange_;
  bool showPercent_ = true;
  TBarStyle barStyle_ = bsTraditional;
  mutable TOrientation orientation_ = orHorizontal;
  // The geometry the orientation last followed; hidden widgets get their resize
  // events late, so the shape is also checked when the orientation is read.
  mutable QRect shapeSeen_;
  QColor barColor_;
  QColor backColor_;
  QColor borderColor_;
  TFrameStyle borderOuter_ = fsLowered;
  int borderWidth_ = 0;
  TFrameStyle borderInner_ = fsNone;
  std::uint8_t interiorOffset_ = 0;
  int numSegments_ = 20;
  int bevelWidth_ = 1;
  QColor flatColor_;
  int flatColorAdjustment_ = 30;
  bool themeAware_ = true;
};

}  // namespace controls
