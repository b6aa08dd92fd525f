// SPDX-License-Identifier: GPL-2.0-or-later
#include "graph/strip_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/ui.h"

namespace wx {

namespace {

constexpr int kBottomRow = kGraphHeight - 1;  // 236
constexpr int kRowSpan = 236;                 // traces wrap every 236 rows
constexpr uint32_t kStartLineColour = 0x008000;
constexpr int kRainTickHeight = 10;

// Remainder in 0..235 whatever the sign of v.
int WrapRow(int64_t v) {
  int64_t r = v % kRowSpan;
  if (r < 0) r += kRowSpan;
  return static_cast<int>(r);
}

// Truncation toward zero that cannot overflow or meet a NaN.
int64_t TruncClamped(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kLimit = 9.0e15;
  if (v > kLimit) v = kLimit;
  if (v < -kLimit) v = -kLimit;
  return static_cast<int64_t>(std::trunc(v));
}

}  // namespace

StripChart::StripChart(const Settings& settings, Ui& ui) : settings_(settings), ui_(ui) {
  CreateBitmap();
}

void StripChart::CreateBitmap() {
  bitmap_.Fill(ToRgb32(kBackgroundColour));
  DrawLine(0, 0, kGraphWidth, kBottomRow, kStartLineColour);
}

void StripChart::ClearTo(DateTime now) {
  bitmap_.Fill(ToRgb32(kBackgroundColour));
  referenceTime = now;
  dayMark = DatePart(now);
  // A count difference across the step is no rain or wind of one column.
  lastRainCount = lastWindSpeedCount = lastLightningCount = kNoCount;
}

int StripChart::CounterRow(int32_t count, int channel) const {
  const int64_t m = settings_.plot.plotMultiplier[channel];
  const int64_t a = settings_.plot.plotOffset[channel];
  // 64-bit: a nine-digit count times a multiplier above 2 would overflow 32 bits.
  return kBottomRow - WrapRow(static_cast<int64_t>(count) * m / kSquashFactor + a);
}

int StripChart::TtureRow(int channel, float celsius) const {
  int64_t m = settings_.plot.plotMultiplier[channel];
  if (m == 0) m = kSquashFactor;  // a zero multiplier is warned about at load; never divide by it
  const int64_t a = settings_.plot.plotOffset[channel];
  const int64_t scaled = TruncClamped(static_cast<double>(celsius) * kSquashFactor / static_cast<double>(m));
  return kBottomRow - WrapRow(scaled + a);
}

int StripChart::AnalogRow(int channel, int hundredths) const {
  const double m = settings_.plot.plotMultiplier[channel];
  const double a = settings_.plot.plotOffset[channel];
  return kBottomRow - WrapRow(TruncClamped(m * hundredths / kSquashFactor + a));
}

int StripChart::OnOffLevelRow(int onOffChannel, int level) const {
  const int ch = 10 + onOffChannel;
  const int64_t a = settings_.plot.plotOffset[ch];
  const int64_t m = level == 1 ? settings_.plot.plotMultiplier[ch] : 0;
  return kBottomRow - WrapRow(a + m);
}

int StripChart::OnOffCountRow(int onOffChannel, int32_t count) const {
  return CounterRow(count, 10 + onOffChannel);
}

int StripChart::TimeToColumn(DateTime t) const {
  if (ColumnInterval <= 0) return 0;
  const double steps = std::nearbyint((referenceTime - t) / ColumnInterval);
  const double col = kGraphWidth - steps;
  if (!(col >= 0)) return 0;  // also catches NaN
  if (col > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(col);
}

void StripChart::SetPixel(int column, int row, uint32_t colour) {
  bitmap_.Set(column, row, ToRgb32(colour));
}

void StripChart::VerticalLine(int column, int fromRow, int toRow, uint32_t colour) {
  // From fromRow towards toRow, toRow itself excluded.
  if (column < 0 || column >= kGraphWidth || fromRow == toRow) return;
  const int step = toRow > fromRow ? 1 : -1;
  int lo = step > 0 ? fromRow : toRow + 1;
  int hi = step > 0 ? toRow - 1 : fromRow;
  lo = std::max(lo, 0);
  hi = std::min(hi, kGraphHeight - 1);
  if (lo > hi) return;
  const uint32_t c = ToRgb32(colour);
  for (int y = lo; y <= hi; ++y) bitmap_.MutableRow(y)[column] = c;
  bitmap_.Touch({column, lo, column, hi});
}

void StripChart::DrawLine(int x0, int y0, int x1, int y1, uint32_t colour) {
  // Bresenham, end point excluded, clipped per pixel.
  const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  while (!(x0 == x1 && y0 == y1)) {
    SetPixel(x0, y0, colour);
    const int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x0 += sx; }
    if (e2 <= dx) { err += dx; y0 += sy; }
  }
}

void StripChart::DrawBar(uint32_t colour, int column, int height) {
  if (height <= 0) return;
  const int top = std::max<int64_t>(static_cast<int64_t>(kBottomRow) - height, -1);
  VerticalLine(column, kBottomRow, static_cast<int>(top), colour);
}

void StripChart::DrawDayMark(DateTime t) {
  const int col = TimeToColumn(t) - 1;
  VerticalLine(col, 0, kBottomRow, kDayMarkColour);
}

void StripChart::PlotOnOff(int onOffChannel, bool noTransition, int level, int32_t count, int column) {
  const int ch = 10 + onOffChannel;
  const uint32_t colour = settings_.plot.channelColour[ch];
  switch (settings_.plot.variousOne1[ch]) {
    case 0:
      if (noTransition) {
        SetPixel(column, OnOffLevelRow(onOffChannel, level), colour);
      } else {
        const int r0 = OnOffLevelRow(onOffChannel, 0);
        const int r1 = OnOffLevelRow(onOffChannel, 1);
        VerticalLine(column, std::min(r0, r1), std::max(r0, r1) + 1, colour);
      }
      break;
    case 1:
      SetPixel(column, OnOffLevelRow(onOffChannel, level), colour);
      break;
    case 2:
      SetPixel(column, OnOffCountRow(onOffChannel, count), colour);
      break;
    default:
      ui_.ShowMessage("\"case\" problem 2009-11-10");
      break;
  }
}

void StripChart::ScrollGraph(DateTime now, int32_t rainCountLatest, int32_t windSpeedCountLatest,
                             std::array<bool, kChannels>& channelLogged) {
  const uint32_t background = ToRgb32(kBackgroundColour);
  for (int y = 0; y < kGraphHeight; ++y) {
    uint32_t* line = bitmap_.MutableRow(y);
    std::memmove(line, line + 1, sizeof(uint32_t) * (kGraphWidth - 1));
    line[kNewestColumn] = background;
  }
  bitmap_.TouchAll();

  if (dayMark + 1.0 < now) {
    referenceTime = now;
    dayMark += 1.0;
    DrawDayMark(dayMark);
  }

  switch (scrollCounter % 8) {
    case 1:
    case 5:
      if (rainCountLatest > lastRainCount)
        VerticalLine(kNewestColumn, kBottomRow, kBottomRow - kRainTickHeight, settings_.plot.channelColour[5]);
      lastRainCount = rainCountLatest;
      break;
    case 3:
    case 7:
      if (windSpeedCountLatest > lastWindSpeedCount) {
        const int64_t divisor = settings_.windSpeedBarDivisor > 0 ? settings_.windSpeedBarDivisor : 1;
        const int64_t height = std::min<int64_t>(
            (static_cast<int64_t>(windSpeedCountLatest) - lastWindSpeedCount) / divisor, kRowSpan);
        DrawBar(settings_.plot.channelColour[6], kNewestColumn, static_cast<int>(height));
      }
      lastWindSpeedCount = windSpeedCountLatest;
      break;
    default:
      break;
  }
  ++scrollCounter;
  channelLogged.fill(false);
}

}  // namespace wx
