// SPDX-License-Identifier: GPL-2.0-or-later
// The 60 x 60 wind dial: a teal disc with a black outline and a pointer for
// one of 16 directions (16 = no pointer).
#pragma once
#include <functional>

#include "graph/rgb_image.h"

namespace wx {

constexpr int kDialSize = 60;

// Painted by the windows only, once they show it: until then a change is
// only noted, so a run without windows needs no painter at all. From then on
// every change is painted at once.
class WindDial {
 public:
  // Paints what is pending: the blank dial (window face colour, then the
  // disc filling the image) if blank, then, if pointer, the disc again with
  // the pointer of direction over whatever the image held (none outside 0..15).
  using Painter = std::function<void(RgbImage& image, bool blank, bool pointer, int direction)>;

  void DrawBlank();
  void DrawWindDial(int direction);
  // The windows' painter; what is pending is painted at once.
  void Show(Painter painter);
  RgbImage& Image() { return image_; }

 private:
  void Paint();

  // What the dial shows and is not yet painted.
  bool blank_ = true;     // the blank dial
  bool pointer_ = false;  // the disc again, with the pointer of direction_
  int direction_ = 16;
  bool painted_ = false;  // the image shows the pointer of direction_
  Painter painter_;
  RgbImage image_{kDialSize, kDialSize};
};

}  // namespace wx
