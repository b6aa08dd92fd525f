// SPDX-License-Identifier: GPL-2.0-or-later
// How the windows paint the wind dial (graph/wind_dial.h): a teal disc with
// a black outline, and a pointer from the opposite rim through the centre
// with a thick head towards the inner point of its direction.
#pragma once
#include <QPoint>
#include <array>

#include "graph/rgb_image.h"

namespace wx {

void PaintWindDial(RgbImage& image, bool blank, bool pointer, int direction);
const std::array<QPoint, 16>& DialRimPoints();
const std::array<QPoint, 16>& DialInnerPoints();

}  // namespace wx
