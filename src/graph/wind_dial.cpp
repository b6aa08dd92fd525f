// SPDX-License-Identifier: GPL-2.0-or-later
#include "graph/wind_dial.h"

#include <utility>

namespace wx {

void WindDial::DrawBlank() {
  blank_ = true;
  pointer_ = false;
  Paint();
}

void WindDial::DrawWindDial(int direction) {
  // The same pointer over the same dial paints the same pixels: the windows
  // need not repaint the dial for a vane that has not turned.
  if (painted_ && direction == direction_) return;
  pointer_ = true;
  direction_ = direction;
  Paint();
}

void WindDial::Show(Painter painter) {
  painter_ = std::move(painter);
  Paint();
}

void WindDial::Paint() {
  if (!painter_) return;
  painter_(image_, blank_, pointer_, direction_);
  image_.TouchAll();
  painted_ = pointer_;  // the image shows direction_'s pointer
  blank_ = pointer_ = false;
}

}  // namespace wx
