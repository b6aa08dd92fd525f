// SPDX-License-Identifier: GPL-2.0-or-later
// The 60 x 60 wind dial: a teal disc with a black outline and a pointer for
// one of 16 directions (16 = no pointer).
#pragma once
#include <QImage>
#include <QPoint>
#include <array>

namespace wx {

// Painted only once something shows it: until the image is first asked
// for, a change is only noted (a run without windows never starts the
// painter, whose code would be a good part of what that run keeps resident).
// From then on every change is painted at once.
class WindDial {
 public:
  WindDial() = default;
  // The blank dial: window face colour, then the disc filling the image.
  void DrawBlank();
  void DrawWindDial(int direction);
  QImage& Image();
  static const std::array<QPoint, 16>& RimPoints();
  static const std::array<QPoint, 16>& InnerPoints();

 private:
  void Paint();

  // What the dial shows and is not yet painted.
  bool blank_ = true;     // the blank dial
  bool pointer_ = false;  // the disc again, with the pointer of direction_
  int direction_ = 16;
  bool shown_ = false;
  QImage image_;
};

}  // namespace wx
