// SPDX-License-Identifier: GPL-2.0-or-later
#include "graph/wind_dial.h"

#include <gtest/gtest.h>

namespace wx {
namespace {

const QRgb kTeal = qRgb(0x00, 0x80, 0x80);
const QRgb kBlack = qRgb(0, 0, 0);

TEST(WindDial, BlankDialIsFaceThenTealDisc) {
  WindDial dial;
  dial.DrawBlank();
  const QImage& img = dial.Image();
  ASSERT_EQ(img.size(), QSize(60, 60));
  EXPECT_NE(img.pixel(0, 0), kTeal);      // corner outside the disc: window face
  EXPECT_NE(img.pixel(0, 0), kBlack);
  EXPECT_EQ(img.pixel(30, 30), kTeal);
  EXPECT_EQ(img.pixel(30, 0), kBlack);    // the outline touches the top edge
  EXPECT_EQ(img.pixel(0, 30), kBlack);
}

TEST(WindDial, PointerRunsFromOppositeRimToInnerPoint) {
  WindDial dial;
  dial.DrawWindDial(4);  // E: from W rim through the centre, thick head
  const QImage& img = dial.Image();
  EXPECT_EQ(img.pixel(30, 30), kBlack);
  EXPECT_EQ(img.pixel(5, 30), kBlack);
  EXPECT_EQ(img.pixel(52, 35), kBlack);   // within the 12-pixel head near the rim
  EXPECT_EQ(img.pixel(30, 10), kTeal);    // nothing towards N
  // The next call covers the old pointer.
  dial.DrawWindDial(0);
  EXPECT_EQ(img.pixel(52, 35), kTeal);
  EXPECT_EQ(img.pixel(30, 5), kBlack);
  dial.DrawWindDial(16);  // no valid direction: no pointer
  EXPECT_EQ(img.pixel(30, 30), kTeal);
  EXPECT_EQ(img.pixel(30, 5), kTeal);
}

TEST(WindDial, PointTablesMirror) {
  const auto& rim = WindDial::RimPoints();
  const auto& inner = WindDial::InnerPoints();
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
