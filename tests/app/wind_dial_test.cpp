// SPDX-License-Identifier: GPL-2.0-or-later
#include "graph/wind_dial.h"

#include <gtest/gtest.h>

#include "app/qt/wind_dial_painter.h"

namespace wx {
namespace {

constexpr uint32_t kTeal = 0xFF008080;
constexpr uint32_t kBlack = 0xFF000000;

TEST(WindDial, BlankDialIsFaceThenTealDisc) {
  WindDial dial;
  dial.DrawBlank();
  const RgbImage& img = dial.Image();
  EXPECT_EQ(img.Pixel(30, 30), 0xFFFFFFFF);  // nothing is painted until the windows show it
  dial.Show(PaintWindDial);
  ASSERT_EQ(img.Width(), 60);
  ASSERT_EQ(img.Height(), 60);
  EXPECT_NE(img.Pixel(0, 0), kTeal);      // corner outside the disc: window face
  EXPECT_NE(img.Pixel(0, 0), kBlack);
  EXPECT_EQ(img.Pixel(30, 30), kTeal);
  EXPECT_EQ(img.Pixel(30, 0), kBlack);    // the outline touches the top edge
  EXPECT_EQ(img.Pixel(0, 30), kBlack);
}

TEST(WindDial, PointerRunsFromOppositeRimToInnerPoint) {
  WindDial dial;
  dial.DrawWindDial(4);  // E: from W rim through the centre, thick head
  dial.Show(PaintWindDial);
  RgbImage& img = dial.Image();
  EXPECT_EQ(img.Pixel(30, 30), kBlack);
  EXPECT_EQ(img.Pixel(5, 30), kBlack);
  EXPECT_EQ(img.Pixel(52, 35), kBlack);   // within the 12-pixel head near the rim
  EXPECT_EQ(img.Pixel(30, 10), kTeal);    // nothing towards N
  // The next call covers the old pointer, and the windows learn of it.
  img.TakeChanged();
  dial.DrawWindDial(0);
  EXPECT_EQ(img.Pixel(52, 35), kTeal);
  EXPECT_EQ(img.Pixel(30, 5), kBlack);
  EXPECT_EQ(img.TakeChanged(), (PixelRect{0, 0, 59, 59}));
  // A vane that has not turned leaves the dial as it is: nothing to repaint.
  const RgbImage north = img;
  dial.DrawWindDial(0);
  EXPECT_TRUE(img.TakeChanged().Empty());
  dial.DrawWindDial(16);  // no valid direction: no pointer
  EXPECT_FALSE(img.TakeChanged().Empty());
  dial.DrawWindDial(0);
  EXPECT_EQ(img, north);  // painted again, the same pixels
  dial.DrawWindDial(16);
  EXPECT_EQ(img.Pixel(30, 30), kTeal);
  EXPECT_EQ(img.Pixel(30, 5), kTeal);
}

TEST(WindDial, PointTablesMirror) {
  const auto& rim = DialRimPoints();
  const auto& inner = DialInnerPoints();
  for (int d = 0; d < 16; ++d) {
    const int o = (d + 8) % 16;
    EXPECT_EQ(rim[d].x() + rim[o].x(), 60) << d;
    EXPECT_EQ(rim[d].y() + rim[o].y(), 60) << d;
    EXPECT_EQ(inner[d].x() + inner[o].x(), 60) << d;
    EXPECT_EQ(inner[d].y() + inner[o].y(), 60) << d;
  }
  EXPECT_EQ(rim[2], QPoint(47, 13));
  EXPECT_EQ(inner[1], QPoint(34, 17));
}

}  // namespace
}  // namespace wx
