// SPDX-License-Identifier: GPL-2.0-or-later
// The 780 x 237 strip chart: one column per ColumnInterval, newest at the
// right, every channel mapped to a row, bars on the bottom edge, silver lines
// at midnights. Drawn on an image that the main window shows unscaled.
#pragma once
#include <array>
#include <cstdint>

#include "config/settings.h"
#include "graph/rgb_image.h"
#include "platform/clock.h"

namespace wx {

class Ui;

constexpr int kGraphWidth = 780;
constexpr int kGraphHeight = 237;
constexpr int kNewestColumn = 779;
constexpr int32_t kNoCount = 0x0FFFFFFF;

class StripChart {
 public:
  StripChart(const Settings& settings, Ui& ui);

  // A fresh 780 x 237 bitmap (white) with the green line from (0, 0) towards (780, 236).
  void CreateBitmap();
  RgbImage& Bitmap() { return bitmap_; }
  const RgbImage& Bitmap() const { return bitmap_; }

  // Row functions; every result lies in 0..236.
  int CounterRow(int32_t count, int channel) const;
  int TtureRow(int channel, float celsius) const;
  int AnalogRow(int channel, int hundredths) const;
  int OnOffLevelRow(int onOffChannel, int level) const;  // onOffChannel 1 or 2
  int OnOffCountRow(int onOffChannel, int32_t count) const;
  static int WindDirRow(int bin) { return 30 + 11 * bin; }
  int TimeToColumn(DateTime t) const;

  // Drawing; everything outside the bitmap is clipped.
  void SetPixel(int column, int row, uint32_t colour);
  void DrawBar(uint32_t colour, int column, int height);
  void DrawDayMark(DateTime t);
  void PlotOnOff(int onOffChannel, bool noTransition, int level, int32_t count, int column);
  // Canvas lines: they stop short of their end point.
  void VerticalLine(int column, int fromRow, int toRow, uint32_t colour);
  void DrawLine(int x0, int y0, int x1, int y1, uint32_t colour);

  // One column step: shift left, clear the new column, the midnight mark, the
  // rain tick and wind-speed bar phases, and clear every ChannelLogged flag.
  void ScrollGraph(DateTime now, int32_t rainCountLatest, int32_t windSpeedCountLatest,
                   std::array<bool, kChannels>& channelLogged);
  // After a clock step of more than the chart's width nothing on it belongs
  // to the new time axis: an empty chart whose newest column is now.
  void ClearTo(DateTime now);

  // Time axis and bar state, shared with the history replay.
  DateTime referenceTime = 0;
  DateTime dayMark = 0;
  int32_t scrollCounter = 0;
  int32_t lastRainCount = kNoCount;
  int32_t lastWindSpeedCount = kNoCount;
  int32_t lastLightningCount = kNoCount;
  double ColumnInterval = 0.012;

 private:
  const Settings& settings_;
  Ui& ui_;
  RgbImage bitmap_{kGraphWidth, kGraphHeight};
};

}  // namespace wx
