// SPDX-License-Identifier: GPL-2.0-or-later
#include "graph/strip_chart.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "platform/ui.h"
#include "support/fakes.h"

namespace wx {
namespace {

using RecordingUi = test::ScriptedUi;

class StripChartTest : public ::testing::Test {
 protected:
  StripChartTest() { ApplyDefaults(settings); }
  StripChart& Chart() {
    if (!chart) {
      chart = std::make_unique<StripChart>(settings, ui);
      chart->Bitmap().Fill(ToRgb32(kBackgroundColour));
    }
    return *chart;
  }
  uint32_t At(int x, int y) {
    const uint32_t c = Chart().Bitmap().Pixel(x, y);
    return (c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16;
  }
  std::vector<int> RowsOf(int x, uint32_t colour) {
    std::vector<int> rows;
    for (int y = 0; y < kGraphHeight; ++y)
      if (At(x, y) == colour) rows.push_back(y);
    return rows;
  }
  Settings settings;
  RecordingUi ui;
  std::unique_ptr<StripChart> chart;
};

TEST_F(StripChartTest, CounterRowWrapsAndUsesWideProduct) {
  settings.plot.plotOffset[5] = 0;
  settings.plot.plotMultiplier[5] = 10000;
  EXPECT_EQ(Chart().CounterRow(0, 5), 236);
  EXPECT_EQ(Chart().CounterRow(1, 5), 235);
  EXPECT_EQ(Chart().CounterRow(235, 5), 1);
  EXPECT_EQ(Chart().CounterRow(236, 5), 236);
  // 999,999,999 x 65535 needs more than 32 bits: (999999999*65535/10000) mod 236.
  settings.plot.plotMultiplier[6] = 65535;
  settings.plot.plotOffset[6] = 65535;
  const int64_t expected = 236 - ((999999999LL * 65535 / 10000 + 65535) % 236);
  EXPECT_EQ(Chart().CounterRow(999999999, 6), expected);
  // m spreads: 20000 gives two rows per count.
  settings.plot.plotMultiplier[7] = 20000;
  EXPECT_EQ(Chart().CounterRow(3, 7), 230);
}

TEST_F(StripChartTest, TtureRowCorrectsNegativeRemainderAndScales) {
  settings.plot.plotOffset[0] = 100;
  EXPECT_EQ(Chart().TtureRow(0, -5.0f), 141);
  settings.plot.plotOffset[0] = 0;
  EXPECT_EQ(Chart().TtureRow(0, -5.0f), 5);
  EXPECT_EQ(Chart().TtureRow(0, -236.0f), 236);
  EXPECT_EQ(Chart().TtureRow(0, 21.5f), 215);
  settings.plot.plotMultiplier[1] = 20000;
  EXPECT_EQ(Chart().TtureRow(1, 10.0f) - Chart().TtureRow(1, 12.0f), 1);
  settings.plot.plotMultiplier[2] = 5000;
  EXPECT_EQ(Chart().TtureRow(2, 10.0f) - Chart().TtureRow(2, 12.0f), 4);
  // A zero multiplier must not divide; the row stays on the chart.
  settings.plot.plotMultiplier[3] = 0;
  const int r = Chart().TtureRow(3, 20.0f);
  EXPECT_GE(r, 0);
  EXPECT_LE(r, 236);
}

TEST_F(StripChartTest, AnalogOnOffAndWindRows) {
  EXPECT_EQ(Chart().AnalogRow(8, 295), 236 - (295 % 236));
  settings.plot.plotMultiplier[9] = 5000;
  settings.plot.plotOffset[9] = 10;
  EXPECT_EQ(Chart().AnalogRow(9, 101), 236 - 60);  // trunc(50.5 + 10)
  EXPECT_EQ(Chart().AnalogRow(9, -400), 236 - (236 - 190));  // negative remainder corrected
  // Defaults: channel 11 offset 1, height 10; channel 12 offset 50.
  EXPECT_EQ(Chart().OnOffLevelRow(1, 0), 235);
  EXPECT_EQ(Chart().OnOffLevelRow(1, 1), 225);
  EXPECT_EQ(Chart().OnOffLevelRow(2, 1), 176);
  EXPECT_EQ(Chart().OnOffCountRow(2, 5), 236 - ((5 * 10 / 10000 + 50) % 236));
  EXPECT_EQ(StripChart::WindDirRow(0), 30);
  EXPECT_EQ(StripChart::WindDirRow(16), 206);
}

TEST_F(StripChartTest, TimeToColumnEdges) {
  Chart().referenceTime = 46363.5;
  EXPECT_EQ(Chart().TimeToColumn(46363.5), 780);
  EXPECT_EQ(Chart().TimeToColumn(46363.5 - 0.012), 779);
  EXPECT_EQ(Chart().TimeToColumn(46363.5 - 0.012 * 780), 0);
  EXPECT_EQ(Chart().TimeToColumn(46363.5 - 9.37), 0);
  EXPECT_EQ(Chart().TimeToColumn(46363.5 - 30), 0);
  EXPECT_GT(Chart().TimeToColumn(46363.5 + 0.012), 779);
  // Nothing lands on the bitmap at column 780.
  Chart().SetPixel(Chart().TimeToColumn(46363.5), 10, 0x0000FF);
  EXPECT_EQ(RowsOf(779, 0x0000FF).size(), 0u);
}

TEST_F(StripChartTest, BarsDayMarksAndLinesExcludeEndPointAndClip) {
  Chart().DrawBar(0xFF0000, 100, 3);
  EXPECT_EQ(RowsOf(100, 0xFF0000), (std::vector<int>{234, 235, 236}));
  Chart().DrawBar(0xFF0000, 101, 5000);  // clipped to the bitmap
  EXPECT_EQ(RowsOf(101, 0xFF0000).size(), 237u);
  Chart().DrawBar(0xFF0000, 900, 10);  // off the bitmap: nothing, no crash
  Chart().DrawBar(0xFF0000, -1, 10);
  Chart().referenceTime = 46363.5;
  Chart().DrawDayMark(46363.5 - 0.012 * 100);  // column 680, mark one left
  const auto mark = RowsOf(679, kDayMarkColour);
  ASSERT_EQ(mark.size(), 236u);
  EXPECT_EQ(mark.front(), 0);
  EXPECT_EQ(mark.back(), 235);
  EXPECT_TRUE(RowsOf(680, kDayMarkColour).empty());
}

TEST_F(StripChartTest, StartBitmapHasGreenLineWithoutEndPoint) {
  StripChart fresh(settings, ui);
  const RgbImage& img = fresh.Bitmap();
  EXPECT_EQ(img.Width(), 780);
  EXPECT_EQ(img.Height(), 237);
  EXPECT_EQ(img.Pixel(0, 0), ToRgb32(0x008000));
  EXPECT_EQ(img.Pixel(779, 0), ToRgb32(0xFFFFFF));
  int green = 0;
  for (int y = 0; y < 237; ++y) green += img.Pixel(779, y) == ToRgb32(0x008000);
  EXPECT_EQ(green, 1);  // the last column before the excluded end (780, 236)
}

TEST_F(StripChartTest, PlotOnOffVariants) {
  const uint32_t c = settings.plot.channelColour[11];
  settings.plot.variousOne1[11] = 0;
  Chart().PlotOnOff(1, false, 1, 7, 10);  // transition: both level rows and between
  std::vector<int> step;
  for (int r = 225; r <= 235; ++r) step.push_back(r);
  EXPECT_EQ(RowsOf(10, c), step);
  Chart().PlotOnOff(1, true, 1, 8, 11);
  EXPECT_EQ(RowsOf(11, c), (std::vector<int>{225}));
  settings.plot.variousOne1[11] = 1;
  Chart().PlotOnOff(1, false, 0, 8, 12);  // dots never draw the step
  EXPECT_EQ(RowsOf(12, c), (std::vector<int>{235}));
  settings.plot.variousOne1[11] = 2;
  settings.plot.plotMultiplier[11] = 10000;
  Chart().PlotOnOff(1, false, 1, 30, 13);
  EXPECT_EQ(RowsOf(13, c), (std::vector<int>{236 - 31}));
  EXPECT_TRUE(ui.messages.empty());
  settings.plot.variousOne1[11] = 3;
  const RgbImage before = Chart().Bitmap();
  Chart().PlotOnOff(1, false, 1, 30, 14);
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"\"case\" problem 2009-11-10"}));
  EXPECT_EQ(Chart().Bitmap(), before);
}

TEST_F(StripChartTest, ScrollSequenceShiftsAndDrawsPhaseMarks) {
  StripChart& g = Chart();
  const DateTime start = 46363.5;  // noon
  g.referenceTime = start;
  g.dayMark = 46363.0;
  std::array<bool, kChannels> logged{};
  logged.fill(true);
  const uint32_t rain = settings.plot.channelColour[5];
  const uint32_t wind = settings.plot.channelColour[6];

  g.SetPixel(779, 50, 0x0000FF);
  g.ScrollGraph(start, 100, 1000, logged);  // phase 0: no marks
  EXPECT_EQ(At(778, 50), 0x0000FFu);
  EXPECT_EQ(RowsOf(779, kBackgroundColour).size(), 237u);
  for (bool b : logged) EXPECT_FALSE(b);
  EXPECT_EQ(g.lastRainCount, kNoCount);

  g.ScrollGraph(start, 100, 1000, logged);  // phase 1: rain count primes only (sentinel)
  EXPECT_TRUE(RowsOf(779, rain).empty());
  EXPECT_EQ(g.lastRainCount, 100);
  g.ScrollGraph(start, 100, 1000, logged);  // phase 2
  g.ScrollGraph(start, 100, 1000, logged);  // phase 3: wind primes
  EXPECT_TRUE(RowsOf(779, wind).empty());
  EXPECT_EQ(g.lastWindSpeedCount, 1000);
  g.ScrollGraph(start, 100, 1000, logged);  // phase 4
  g.ScrollGraph(start, 103, 1000, logged);  // phase 5: rain rose -> 10-row tick
  std::vector<int> tick;
  for (int r = 227; r <= 236; ++r) tick.push_back(r);
  EXPECT_EQ(RowsOf(779, rain), tick);
  g.ScrollGraph(start, 103, 1000, logged);  // phase 6
  EXPECT_EQ(RowsOf(778, rain), tick);        // the tick moved left
  g.ScrollGraph(start, 103, 1000 + 150 * 7 + 149, logged);  // phase 7: bar of 7 rows
  EXPECT_EQ(RowsOf(779, wind), (std::vector<int>{230, 231, 232, 233, 234, 235, 236}));
  EXPECT_EQ(At(779 - 8, 50), 0x0000FFu);     // eight scrolls, eight columns
  g.ScrollGraph(start, 103, 1000000, logged);  // phase 0 again: nothing although it rose
  EXPECT_TRUE(RowsOf(779, wind).empty());
  // A huge rise is capped at the chart height (phase 3 of the next cycle).
  g.ScrollGraph(start, 103, 1000000, logged);
  g.ScrollGraph(start, 103, 1000000, logged);
  g.ScrollGraph(start, 103, 1000000000, logged);
  EXPECT_EQ(RowsOf(779, wind).size(), 236u);
  EXPECT_EQ(g.scrollCounter, 12);
}

TEST_F(StripChartTest, ScrollPastMidnightDrawsDayMarkAndMovesReference) {
  StripChart& g = Chart();
  g.referenceTime = 46363.5;
  g.dayMark = 46363.0;
  std::array<bool, kChannels> logged{};
  g.ScrollGraph(46363.99, 0, 0, logged);
  EXPECT_TRUE(RowsOf(778, kDayMarkColour).empty());
  EXPECT_TRUE(RowsOf(779, kDayMarkColour).empty());
  const DateTime now = 46364.0 + 0.003;  // just after midnight
  g.ScrollGraph(now, 0, 0, logged);
  EXPECT_DOUBLE_EQ(g.referenceTime, now);
  EXPECT_DOUBLE_EQ(g.dayMark, 46364.0);
  EXPECT_EQ(RowsOf(779, kDayMarkColour).size(), 236u);  // 780 - round(0.25) - 1
  g.ScrollGraph(now + 0.012, 0, 0, logged);
  EXPECT_EQ(RowsOf(778, kDayMarkColour).size(), 236u);
  EXPECT_TRUE(RowsOf(779, kDayMarkColour).empty());
}

// The windows repaint only what the chart says it wrote: every pixel that
// changed must lie in that rectangle, whatever drew it.
TEST_F(StripChartTest, EveryDrawingSaysWhereItWrote) {
  StripChart& g = Chart();
  g.referenceTime = 46363.5;
  g.dayMark = 46363.0;
  std::array<bool, kChannels> logged{};
  const std::vector<std::pair<const char*, std::function<void()>>> drawings{
      {"pixel", [&] { g.SetPixel(3, 200, 0x0000FF); }},
      {"line", [&] { g.VerticalLine(10, 5, 20, 0x00FF00); }},
      {"bar", [&] { g.DrawBar(0xFF0000, 700, 40); }},
      {"slope", [&] { g.DrawLine(100, 10, 140, 90, 0x808080); }},
      {"day mark", [&] { g.DrawDayMark(46363.4); }},
      {"scroll", [&] { g.ScrollGraph(46363.5, 0, 0, logged); }},
      {"clear", [&] { g.ClearTo(46364.0); }},
  };
  for (const auto& [what, draw] : drawings) {
    g.Bitmap().TakeChanged();
    const RgbImage before = g.Bitmap();
    draw();
    const PixelRect r = g.Bitmap().TakeChanged();
    int changed = 0, outside = 0;
    for (int y = 0; y < kGraphHeight; ++y)
      for (int x = 0; x < kGraphWidth; ++x)
        if (g.Bitmap().Pixel(x, y) != before.Pixel(x, y)) {
          ++changed;
          outside += !(x >= r.left && x <= r.right && y >= r.top && y <= r.bottom);
        }
    EXPECT_GT(changed, 0) << what;
    EXPECT_EQ(outside, 0) << what;
  }
}

}  // namespace
}  // namespace wx
