// SPDX-License-Identifier: GPL-2.0-or-later
// The 60 x 60 wind dial: a teal disc with a black outline and a pointer for
// one of 16 directions (16 = no pointer).
#pragma once
#include <QImage>
#include <QPoint>
#include <array>

namespace wx {

class WindDial {
 public:
  WindDial();
  // The blank dial: window face colour, then the disc filling the image.
  void DrawBlank();
  void DrawWindDial(int direction);
  QImage& Image() { return image_; }
  const QImage& Image() const { return image_; }
  static const std::array<QPoint, 16>& RimPoints();
  static const std::array<QPoint, 16>& InnerPoints();

 private:
  QImage image_;
};

}  // namespace wx
