// SPDX-License-Identifier: GPL-2.0-or-later
#include "graph/wind_dial.h"

#include <QPainter>

namespace wx {

namespace {

constexpr int kDialSize = 60;
const QColor kDialBrush(0x00, 0x80, 0x80);  // Windows colour 0x808000, teal
const QColor kWindowFace(0xF0, 0xF0, 0xF0);

void DrawDisc(QPainter& p) {
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(kDialBrush);
  // The disc fills the square 0..59 like the canvas ellipse in (0, 0)-(60, 60).
  p.drawEllipse(QRectF(0.5, 0.5, kDialSize - 1, kDialSize - 1));
}

}  // namespace

const std::array<QPoint, 16>& WindDial::RimPoints() {
  static const std::array<QPoint, 16> kRim{{{30, 0}, {37, 7}, {47, 13}, {53, 23},
                                            {60, 30}, {53, 37}, {47, 47}, {37, 53},
                                            {30, 60}, {23, 53}, {13, 47}, {7, 37},
                                            {0, 30}, {7, 23}, {13, 13}, {23, 7}}};
  return kRim;
}

const std::array<QPoint, 16>& WindDial::InnerPoints() {
  static const std::array<QPoint, 16> kInner{{{30, 10}, {34, 17}, {37, 23}, {43, 26},
                                              {50, 30}, {43, 34}, {37, 37}, {34, 43},
                                              {30, 50}, {26, 43}, {23, 37}, {17, 34},
                                              {10, 30}, {17, 26}, {23, 23}, {26, 17}}};
  return kInner;
}

void WindDial::DrawBlank() {
  blank_ = true;
  pointer_ = false;
  if (shown_) Paint();
}

void WindDial::DrawWindDial(int direction) {
  pointer_ = true;
  direction_ = direction;
  if (shown_) Paint();
}

QImage& WindDial::Image() {
  if (!shown_) {
    shown_ = true;
    Paint();
  }
  return image_;
}

// Paints what is pending: the blank dial if asked for, then the disc again
// with the pointer over whatever the image held.
void WindDial::Paint() {
  if (image_.isNull()) image_ = QImage(kDialSize, kDialSize, QImage::Format_RGB32);
  if (blank_) image_.fill(kWindowFace);
  QPainter p(&image_);
  if (blank_) DrawDisc(p);
  blank_ = false;
  if (!pointer_) return;
  pointer_ = false;
  DrawDisc(p);
  const int direction = direction_;
  if (direction < 0 || direction > 15) return;  // 16: no valid direction, no pointer
  const QPoint tail = RimPoints()[(direction + 8) % 16];
  const QPoint head = RimPoints()[direction];
  p.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(tail, head);
  p.setPen(QPen(Qt::black, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(head, InnerPoints()[direction]);
}

}  // namespace wx
