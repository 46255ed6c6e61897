#include "controls/ui_progress_bar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace controls {

namespace {

// System colour roles: clHighlight = Highlight, clBtnFace = Button, clBtnShadow = Dark,
// clBtnHighlight = Light, the dark 3D shadow = Shadow, the light 3D edge = Midlight.
QColor SystemColor(const QWidget& widget, QPalette::ColorRole role) {
  return widget.palette().color(QPalette::Active, role);
}

// A rectangle outline `width` pixels wide just inside rect, which shrinks by it.
void FillOutline(QPainter& painter, QRect& rect, int width, const QColor& color) {
  width = std::min({width, (rect.width() + 1) / 2, (rect.height() + 1) / 2});
  if (width <= 0) return;
  const int w = rect.width();
  const int h = rect.height();
  painter.fillRect(QRect(rect.x(), rect.y(), w, width), color);
  painter.fillRect(QRect(rect.x(), rect.y() + h - width, w, width), color);
  painter.fillRect(QRect(rect.x(), rect.y(), width, h), color);
  painter.fillRect(QRect(rect.x() + w - width, rect.y(), width, h), color);
  rect.adjust(width, width, -width, -width);
}

// A one-pixel edge: top row and left column in topLeft, bottom row and right
// column in bottomRight. rect shrinks by one pixel on every side.
void Edge(QPainter& painter, QRect& rect, const QColor& topLeft, const QColor& bottomRight) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  const int w = rect.width();
  const int h = rect.height();
  painter.fillRect(QRect(rect.x(), rect.y(), w - 1, 1), topLeft);
  painter.fillRect(QRect(rect.x(), rect.y(), 1, h - 1), topLeft);
  painter.fillRect(QRect(rect.x(), rect.y() + h - 1, w, 1), bottomRight);
  painter.fillRect(QRect(rect.x() + w - 1, rect.y(), 1, h), bottomRight);
  rect.adjust(1, 1, -1, -1);
}

QColor Adjusted(const QColor& color, int percent) {
  const auto channel = [percent](int c) {
    const int adjusted = percent >= 0 ? c + (255 - c) * percent / 100 : c * (100 + percent) / 100;
    return std::clamp(adjusted, 0, 255);
  };
  return QColor(channel(color.red()), channel(color.green()), channel(color.blue()));
}

// What a screen reader learns of the bar: a progress bar whose value is the percentage.
class TAccessibleProgressBar : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit TAccessibleProgressBar(TUiProgressBar* bar)
      : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return QString("%1 %").arg(Bar().Percent());
    return QAccessibleWidget::text(kind);
  }
  QVariant currentValue() const override { return int{Bar().Percent()}; }
  void setCurrentValue(const QVariant& /*value*/) override {}  // the transfer sets it, no one else
  QVariant maximumValue() const override { return 100; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  const TUiProgressBar& Bar() const { return *static_cast<const TUiProgressBar*>(widget()); }
};

QAccessibleInterface* AccessibleProgressBar(const QString& /*key*/, QObject* object) {
  auto* bar = dynamic_cast<TUiProgressBar*>(object);
  return bar == nullptr ? nullptr : new TAccessibleProgressBar(bar);
}

}  // namespace

int FrameWidth(TFrameStyle style) {
  switch (style) {
    case fsNone:
      return 0;
    case fsFlat:
    case fsStatus:
    case fsPopup:
      return 1;
    default:
      return 2;
  }
}

TUiProgressBar::TUiProgressBar(QWidget* parent)
    : QWidget(parent),
      barColor_(SystemColor(*this, QPalette::Highlight)),
      backColor_(Qt::white),
      borderColor_(SystemColor(*this, QPalette::Button)),
      flatColor_(SystemColor(*this, QPalette::Dark)) {
  // Every pixel is painted from the off-screen image.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(200, 24);
  static const bool accessible = [] {
    QAccessible::installFactory(&AccessibleProgressBar);
    return true;
  }();
  (void)accessible;
  model_.SetOnChange([this](int percent) {
    // Screen readers are told the new value as it comes.
    QAccessibleValueChangeEvent event(this, percent);
    QAccessible::updateAccessibility(&event);
    if (onChange_) onChange_(*this, percent);
  });
  // The percentage shows at once, not at the window's next paint cycle.
  model_.SetRepaint([this] { repaint(); });
}

void TUiProgressBar::Changed() {
  update();
}

void TUiProgressBar::SetShowPercent(bool value) {
  if (value == showPercent_) return;
  showPercent_ = value;
  Changed();
}

void TUiProgressBar::SetBarStyle(TBarStyle value) {
  if (value == barStyle_) return;
  barStyle_ = value;
  SetShowPercent(value == bsTraditional);
  SetInteriorOffset(value == bsLED ? 1 : 0);
  Changed();
}

TOrientation TUiProgressBar::Orientation() const {
  FollowShape();
  return orientation_;
}

void TUiProgressBar::SetOrientation(TOrientation value) {
  FollowShape();
  if (value == orientation_) return;
  orientation_ = value;
  Changed();
}

void TUiProgressBar::SetBarColor(const QColor& value) {
  if (value == barColor_) return;
  barColor_ = value;
  QPalette fontColor = palette();
  fontColor.setColor(QPalette::WindowText, value);
  setPalette(fontColor);
  Changed();
}

void TUiProgressBar::SetBackColor(const QColor& value) {
  if (value == backColor_) return;
  backColor_ = value;
  Changed();
}

void TUiProgressBar::SetBorderColor(const QColor& value) {
  if (value == borderColor_) return;
  borderColor_ = value;
  Changed();
}

void TUiProgressBar::SetBorderOuter(TFrameStyle value) {
  if (value == borderOuter_) return;
  borderOuter_ = value;
  Changed();
}

void TUiProgressBar::SetBorderWidth(int value) {
  value = std::max(value, 0);
  if (value == borderWidth_) return;
  borderWidth_ = value;
  Changed();
}

void TUiProgressBar::SetBorderInner(TFrameStyle value) {
  if (value == borderInner_) return;
  borderInner_ = value;
  Changed();
}

void TUiProgressBar::SetInteriorOffset(std::uint8_t value) {
  if (value == interiorOffset_) return;
  interiorOffset_ = value;
  Changed();
}

void TUiProgressBar::SetNumSegments(int value) {
  value = std::clamp(value, 1, 100);
  if (value == numSegments_) return;
  numSegments_ = value;
  Changed();
}

void TUiProgressBar::SetBevelWidth(int value) {
  if (value == bevelWidth_) return;
  bevelWidth_ = value;
  Changed();
}

void TUiProgressBar::SetFlatColor(const QColor& value) {
  if (value == flatColor_) return;
  flatColor_ = value;
  Changed();
}

void TUiProgressBar::SetFlatColorAdjustment(int value) {
  if (value == flatColorAdjustment_) return;
  flatColorAdjustment_ = value;
  Changed();
}

void TUiProgressBar::SetThemeAware(bool value) {
  if (value == themeAware_) return;
  themeAware_ = value;
  Changed();
}

void TUiProgressBar::FollowShape() const {
  const QRect shape = geometry();
  if (shape == shapeSeen_) return;
  shapeSeen_ = shape;
  orientation_ = shape.height() > shape.width() ? orVertical : orHorizontal;
}

void TUiProgressBar::resizeEvent(QResizeEvent* event) {
  FollowShape();
  QWidget::resizeEvent(event);
}

void TUiProgressBar::moveEvent(QMoveEvent* event) {
  const TOrientation before = orientation_;
  FollowShape();
  if (orientation_ != before) Changed();
  QWidget::moveEvent(event);
}

void TUiProgressBar::PaintFrameStyle(QPainter& painter, QRect& rect, TFrameStyle style) const {
  const QColor light = SystemColor(*this, QPalette::Light);
  const QColor midlight = SystemColor(*this, QPalette::Midlight);
  const QColor dark = SystemColor(*this, QPalette::Dark);
  const QColor shadow = SystemColor(*this, QPalette::Shadow);
  switch (style) {
    case fsNone:
      break;
    case fsFlat:
    case fsFlatBold:
      FillOutline(painter, rect, FrameWidth(style), Adjusted(flatColor_, flatColorAdjustment_));
      break;
    case fsStatus:
      Edge(painter, rect, dark, light);
      break;
    case fsPopup:
      Edge(painter, rect, light, dark);
      break;
    case fsLowered:
    case fsButtonDown:
      Edge(painter, rect, dark, light);
      Edge(painter, rect, shadow, midlight);
      break;
    case fsRaised:
    case fsButtonUp:
      Edge(painter, rect, midlight, shadow);
      Edge(painter, rect, light, dark);
      break;
    case fsGroove:
      Edge(painter, rect, dark, light);
      Edge(painter, rect, light, dark);
      break;
    case fsBump:
      Edge(painter, rect, light, dark);
      Edge(painter, rect, dark, light);
      break;
  }
}

// The platform-styled frame (ThemeAware inside a themed status bar) is drawn as the
// plain frame: Qt offers no separate progress-bar frame that would fit this bar.
void TUiProgressBar::PaintFrame(QPainter& painter, QRect& rect) const {
  painter.fillRect(rect, borderColor_);
  PaintFrameStyle(painter, rect, borderOuter_);
  if (borderWidth_ != 0) FillOutline(painter, rect, borderWidth_, borderColor_);
  PaintFrameStyle(painter, rect, borderInner_);
  if (interiorOffset_ != 0) FillOutline(painter, rect, interiorOffset_, backColor_);
}

QRect TUiProgressBar::BarRect() const {
  QRect rect(QPoint(0, 0), size());
  const auto shrink = [&rect](int by) { rect.adjust(by, by, -by, -by); };
  shrink(FrameWidth(borderOuter_));
  shrink(borderWidth_);
  shrink(FrameWidth(borderInner_));
  shrink(interiorOffset_);
  return rect;
}

void TUiProgressBar::PaintTraditional(QPainter& painter, const QRect& bar) const {
  const int percent = Percent();
  const int barRight = bar.x() + bar.width();  // exclusive
  const int barBottom = bar.y() + bar.height();
  QRect fill;
  QRect rest;
  if (orientation_ == orHorizontal) {
    const int width = FillExtent(percent, bar.width());
    fill = QRect(bar.x(), bar.y(), width, bar.height());
    rest = QRect(bar.x() + width, bar.y(), bar.width() - width, bar.height());
  } else {
    const int height = FillExtent(percent, bar.height());
    fill = QRect(bar.x(), barBottom - height, bar.width(), height);
    rest = QRect(bar.x(), bar.y(), bar.width(), bar.height() - height);
  }

  const QString text = showPercent_ ? QString::fromStdString(PercentText(percent)) : QString();
  const QFontMetrics metrics = painter.fontMetrics();
  // Centred on half the bar's right edge, so a left margin moves the text left of
  // the bar's centre by half that margin; that is how the bar has always looked.
  const int left = barRight / 2 - metrics.horizontalAdvance(text) / 2;
  const int top = bar.y() + (bar.height() - metrics.size(Qt::TextSingleLine, "X").height()) / 2;
  const QPoint baseline(left, top + metrics.ascent());

  // The painted clip rectangles are the fill and the rest of the bar; the text is
  // written over both with the colours swapped.
  const auto draw = [&](const QRect& clip, const QColor& background, const QColor& letters) {
    if (clip.isEmpty()) return;
    painter.fillRect(clip, background);
    if (text.isEmpty()) return;
    painter.save();
    painter.setClipRect(clip);
    painter.setPen(letters);
    painter.drawText(baseline, text);
    painter.restore();
  };
  draw(fill, barColor_, backColor_);
  draw(rest, backColor_, barColor_);
}

void TUiProgressBar::PaintLed(QPainter& painter, const QRect& bar) const {
  painter.fillRect(bar, backColor_);
  const bool horizontal = orientation_ == orHorizontal;
  const int extent = horizontal ? bar.width() : bar.height();
  const int lit = FillExtent(Percent(), numSegments_);
  const int gap = std::max(bevelWidth_, 0);
  for (int i = 0; i < lit; ++i) {
    const int from = i * extent / numSegments_;
    const int to = std::max((i + 1) * extent / numSegments_ - gap, from + 1);
    if (horizontal) {
      painter.fillRect(QRect(bar.x() + from, bar.y(), to - from, bar.height()), barColor_);
    } else {
      const int bottom = bar.y() + bar.height();
      painter.fillRect(QRect(bar.x(), bottom - to, bar.width(), to - from), barColor_);
    }
  }
}

QImage TUiProgressBar::Render() const {
  FollowShape();
  const qreal ratio = devicePixelRatioF();
  QImage image(size() * ratio, QImage::Format_RGB32);
  if (image.isNull()) return image;
  image.setDevicePixelRatio(ratio);
  // Same resolution as the control, so the font has the same size on both.
  image.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
  image.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
  QPainter painter(&image);
  painter.setFont(font());
  QRect bar(QPoint(0, 0), size());
  PaintFrame(painter, bar);
  if (bar.width() <= 0 || bar.height() <= 0) return image;
  if (barStyle_ == bsLED) {
    PaintLed(painter, bar);
  } else {
    PaintTraditional(painter, bar);
  }
  return image;
}

void TUiProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), Render());
}

}  // namespace controls
