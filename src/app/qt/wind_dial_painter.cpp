// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/qt/wind_dial_painter.h"

#include <QImage>
#include <QPainter>

namespace wx {

namespace {

const QColor kDialBrush(0x00, 0x80, 0x80);  // Windows colour 0x808000, teal
const QColor kWindowFace(0xF0, 0xF0, 0xF0);

void DrawDisc(QPainter& p, int size) {
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(kDialBrush);
  // The disc fills the square 0..59 like the canvas ellipse in (0, 0)-(60, 60).
  p.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
}

}  // namespace

const std::array<QPoint, 16>& DialRimPoints() {
  static const std::array<QPoint, 16> kRim{{{30, 0}, {37, 7}, {47, 13}, {53, 23},
                                            {60, 30}, {53, 37}, {47, 47}, {37, 53},
                                            {30, 60}, {23, 53}, {13, 47}, {7, 37},
                                            {0, 30}, {7, 23}, {13, 13}, {23, 7}}};
  return kRim;
}

const std::array<QPoint, 16>& DialInnerPoints() {
  static const std::array<QPoint, 16> kInner{{{30, 10}, {34, 17}, {37, 23}, {43, 26},
                                              {50, 30}, {43, 34}, {37, 37}, {34, 43},
                                              {30, 50}, {26, 43}, {23, 37}, {17, 34},
                                              {10, 30}, {17, 26}, {23, 23}, {26, 17}}};
  return kInner;
}

void PaintWindDial(RgbImage& image, bool blank, bool pointer, int direction) {
  if (image.Width() == 0 || image.Height() == 0) return;
  // Painted in place: the image's rows are one block of RGB32 pixels.
  QImage canvas(reinterpret_cast<uchar*>(image.MutableRow(0)), image.Width(), image.Height(),
                image.Width() * 4, QImage::Format_RGB32);
  if (blank) canvas.fill(kWindowFace);
  QPainter p(&canvas);
  if (blank) DrawDisc(p, image.Width());
  if (!pointer) return;
  DrawDisc(p, image.Width());
  if (direction < 0 || direction > 15) return;  // 16: no valid direction, no pointer
  const QPoint tail = DialRimPoints()[(direction + 8) % 16];
  const QPoint head = DialRimPoints()[direction];
  p.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(tail, head);
  p.setPen(QPen(Qt::black, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(head, DialInnerPoints()[direction]);
}

}  // namespace wx
