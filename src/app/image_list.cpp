#include "app/image_list.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace app {

namespace {

constexpr int kSize = 16;

void DrawFile(QPainter& p) {
  // A sheet with a folded corner and a few lines of text.
  QPolygonF sheet({{2.5, 0.5}, {10.5, 0.5}, {13.5, 3.5}, {13.5, 15.5}, {2.5, 15.5}});
  p.setPen(QPen(QColor(0x55, 0x55, 0x55), 1));
  p.setBrush(Qt::white);
  p.drawPolygon(sheet);
  p.setBrush(QColor(0xD8, 0xD8, 0xD8));
  p.drawPolygon(QPolygonF({{10.5, 0.5}, {10.5, 3.5}, {13.5, 3.5}}));
  p.setPen(QPen(QColor(0x1F, 0x5F, 0xBF), 1));
  for (int y = 6; y <= 13; y += 2) p.drawLine(QPointF(4.5, y + 0.5), QPointF(11.5, y + 0.5));
}

void DrawSerialPort(QPainter& p) {
  // A nine-pin D connector seen from the front.
  QPolygonF shell({{0.5, 3.5}, {15.5, 3.5}, {13.5, 12.5}, {2.5, 12.5}});
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
  p.setBrush(QColor(0x9A, 0xA4, 0xB0));
  p.drawPolygon(shell);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xFF, 0xD7, 0x00));
  for (int i = 0; i < 5; ++i) p.drawRect(QRectF(3 + i * 2.2, 6, 1.4, 1.4));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(4.1 + i * 2.2, 9, 1.4, 1.4));
}

void DrawStart(QPainter& p) {
  // A green "play" triangle.
  p.setPen(QPen(QColor(0x1B, 0x6E, 0x20), 1));
  p.setBrush(QColor(0x3C, 0xB0, 0x43));
  p.drawPolygon(QPolygonF({{3.5, 1.5}, {14.5, 8}, {3.5, 14.5}}));
}

void DrawExit(QPainter& p) {
  // An open door with a red arrow leaving it.
  p.setPen(QPen(QColor(0x5A, 0x3A, 0x1A), 1));
  p.setBrush(QColor(0xB0, 0x7A, 0x40));
  p.drawRect(QRectF(1.5, 0.5, 7, 15));
  p.setBrush(QColor(0x2A, 0x1A, 0x0A));
  p.drawEllipse(QPointF(7, 8), 0.8, 0.8);
  p.setPen(QPen(QColor(0xC6, 0x28, 0x28), 2));
  p.drawLine(QPointF(8, 8), QPointF(14, 8));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xC6, 0x28, 0x28));
  p.drawPolygon(QPolygonF({{11, 4.5}, {15.5, 8}, {11, 11.5}}));
}

void DrawProgram(QPainter& p) {
  // A chip with its pins, and a green arrow bringing something into it.
  p.setPen(QPen(QColor(0x20, 0x20, 0x20), 0.6));
  p.setBrush(QColor(0xB8, 0xB8, 0xB8));
  for (int i = 0; i < 4; ++i) {
    p.drawRect(QRectF(4.5 + i * 2.2, 13.2, 1.2, 2.3));
    p.drawRect(QRectF(0.5, 5.2 + i * 2.2, 2.3, 1.2));
    p.drawRect(QRectF(13.2, 5.2 + i * 2.2, 2.3, 1.2));
  }
  p.setBrush(QColor(0x33, 0x3A, 0x44));
  p.drawRoundedRect(QRectF(2.8, 4.2, 10.4, 9.3), 1.2, 1.2);
  p.setPen(QPen(QColor(0x1B, 0x6E, 0x20), 0.6));
  p.setBrush(QColor(0x3C, 0xB0, 0x43));
  p.drawPolygon(
      QPolygonF({{6.3, 0.4}, {9.7, 0.4}, {9.7, 5.5}, {12, 5.5}, {8, 10.5}, {4, 5.5}, {6.3, 5.5}}));
}

// Draws one picture at `size` pixels: drawn as vectors, so crisp at any scaling.
QPixmap Draw(void (*draw)(QPainter&), int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / double(kSize), size / double(kSize));
  draw(painter);
  return pixmap;
}

using TDraw = void (*)(QPainter&);
constexpr TDraw kImages[imCount] = {DrawFile, DrawSerialPort, DrawStart, DrawExit};
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

}  // namespace

QPixmap ImageListPixmap(int index, int size) {
  if (index < 0 || index >= imCount) return {};
  return Draw(kImages[index], size);
}

QIcon ImageListIcon(int index) {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addPixmap(ImageListPixmap(index, size));
  return icon;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : kIconSizes) icon.addPixmap(Draw(DrawProgram, size));
  return icon;
}

}  // namespace app
