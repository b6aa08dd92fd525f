// SPDX-License-Identifier: GPL-2.0-or-later
// A week of logging, then a restart: the chart rebuilt from the data log must
// show every replayed record at the row where the live run drew it, within one
// column of where that live column has scrolled to, and the midnights marked
// where the live run marked them. The cycles run a minute apart on the fake
// clock (10,080 for the week) with four channels enabled, which keeps it fast
// while the real monitor, readers, data log and replay do the work.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "datalog/stamps.h"
#include "support/monitor_fixture.h"

namespace wx {
namespace {

constexpr int kWeekOfMinutes = 7 * 24 * 60;

struct LoggedRecord {
  std::string line;
  int scrollsBefore = 0;  // chart scrolls before the cycle that wrote it
};

class RestartTest : public test::MonitorFixture {
 protected:
  // The row a record's channel is drawn at, from the value in the record, and
  // its colour; false for records the chart does not show.
  bool RowOf(const std::string& r, int& row, uint32_t& colour) const {
    const StripChart& chart = monitor->chart();
    const auto& c = monitor->settings.plot.channelColour;
    const std::string tag = r.substr(0, 2);
    if (tag == "t0") {
      std::string field = r.substr(10, 5);
      field.insert(3, ".");
      row = chart.TtureRow(0, std::stof(field));
      colour = c[0];
    } else if (tag == "rf") {
      row = chart.CounterRow(std::stoi(r.substr(10)), 5);
      colour = c[5];
    } else if (tag == "bp") {
      row = chart.AnalogRow(8, std::stoi(r.substr(10)));
      colour = c[8];
    } else if (tag == "wd") {
      std::array<uint16_t, 17> bins{};
      for (int i = 0; i < 17; ++i) bins[i] = static_cast<uint16_t>(std::stoi(r.substr(10 + 2 * i, 2), nullptr, 16));
      int m = 0;
      for (int i = 1; i < 17; ++i)
        if (bins[i] >= bins[m]) m = i;
      row = StripChart::WindDirRow(m);
      colour = kWindDirColour;
    } else {
      return false;
    }
    return true;
  }

  // True when most of the column is in the day-mark colour.
  static bool DayMarkAt(const RgbImage& image, int column) {
    if (column < 0 || column >= kGraphWidth) return false;
    int silver = 0;
    for (int y = 0; y < kGraphHeight; ++y) silver += image.Pixel(column, y) == ToRgb32(kDayMarkColour);
    return silver > kGraphHeight / 2;
  }

};

TEST_F(RestartTest, AWeekOfHistoryIsRedrawnWhereTheLiveRunDrewIt) {
  WriteStation({{0, "28", "temp sine 10 6 24h"},
                {5, "1D", "a ramp 0 3"},
                {8, "26", "vad sine 4.5 0.3 30h; temp const 20"},
                {10, "20", "vane a const 2"}});
  // Each trace in a band of its own, so that no pixel hides another; the
  // pressure gets a colour of its own (its default is the start line's).
  Settings2(
      "[swg]\r\nhsi=604800\r\n"
      "[LineOffsetScale]\r\np5a=60\r\np5m=1000\r\np8m=1000\r\n"
      "[ChannelColors]\r\np8c=S804000\r\n");
  Start();
  ASSERT_TRUE(monitor->views.main.timerEnabled);
  const DateTime start = clock.Now();
  logSize = std::filesystem::file_size(root / "c" / "WX18DtLg.txt");

  std::vector<LoggedRecord> records;
  for (int i = 0; i < kWeekOfMinutes; ++i) {
    const int scrolls = monitor->chart().scrollCounter;
    // On to the next whole minute of the week (a cycle takes a few seconds).
    const double ms = std::round((start + (i + 1) / 1440.0 - clock.Now()) * 86400000.0);
    if (ms > 0) clock.AdvanceMs(static_cast<uint32_t>(ms));
    ui->RunOneTick();
    for (std::string& l : NewLogLines()) records.push_back({std::move(l), scrolls});
  }
  ASSERT_EQ(monitor->CycleCount, kWeekOfMinutes + 1);
  ASSERT_GE(clock.Now() - start, 7.0);
  const int liveScrolls = monitor->chart().scrollCounter;
  EXPECT_GE(liveScrolls, 583);  // a week of 17.28-minute columns
  const RgbImage live = monitor->chart().Bitmap();

  Restart();
  ASSERT_TRUE(monitor->views.main.timerEnabled);
  EXPECT_TRUE(ui->errorLines.empty()) << ui->errorLines.front();
  const StripChart& chart = monitor->chart();
  const RgbImage replayed = chart.Bitmap();
  // The restarted program's column time starts at its start-up, so its first
  // tick scrolls once: that is where the replayed columns move to.
  ui->RunOneTick();
  ASSERT_EQ(chart.scrollCounter, 1);
  const RgbImage running = chart.Bitmap();

  // The midnights: marked by the replay one column left of their own. The
  // live run marked each at the first scroll after it, in column 778 or 779
  // by the time of that scroll, so its marks lie up to two columns right of
  // where the replayed mark has moved to.
  std::vector<int> markColumns;
  for (DateTime midnight = DatePart(start) + 1; midnight < clock.Now(); midnight += 1) {
    const int column = chart.TimeToColumn(midnight) - 1;
    markColumns.push_back(column);
    EXPECT_TRUE(DayMarkAt(replayed, column)) << "replayed mark at column " << column;
    EXPECT_TRUE(DayMarkAt(running, column - 1)) << "running mark at column " << column - 1;
    EXPECT_TRUE(DayMarkAt(live, column - 1) || DayMarkAt(live, column) || DayMarkAt(live, column + 1))
        << "live mark near column " << column - 1;
  }
  EXPECT_EQ(markColumns.size(), 7u);

  auto nearMark = [&](int column) {
    for (int m : markColumns)
      if (std::abs(m - column) <= 2) return true;
    return false;
  };
  int checked = 0;
  std::map<std::string, int> perTag;
  for (const LoggedRecord& rec : records) {
    int row = 0;
    uint32_t colour = 0;
    if (!RowOf(rec.line, row, colour)) continue;
    const auto when = StampToDateTime(rec.line.substr(2, 10));
    ASSERT_TRUE(when.has_value()) << rec.line;
    const int replayColumn = chart.TimeToColumn(*when);
    const int liveColumn = kNewestColumn - (liveScrolls - rec.scrollsBefore);
    EXPECT_LE(std::abs(replayColumn - 1 - liveColumn), 1) << rec.line;
    if (replayColumn > kNewestColumn || liveColumn < 0 || nearMark(replayColumn)) continue;
    EXPECT_EQ(live.Pixel(liveColumn, row), ToRgb32(colour)) << "live " << rec.line << " column " << liveColumn;
    EXPECT_EQ(replayed.Pixel(replayColumn, row), ToRgb32(colour)) << "replayed " << rec.line << " column " << replayColumn;
    EXPECT_EQ(running.Pixel(replayColumn - 1, row), ToRgb32(colour)) << "running " << rec.line;
    if (colour == kWindDirColour) {
      EXPECT_EQ(replayed.Pixel(replayColumn, row + 1), ToRgb32(colour)) << rec.line;
    }
    ++checked;
    ++perTag[rec.line.substr(0, 2)];
  }
  // Every column has its first temperature, rain and pressure readings
  // logged; the wind average comes about every eight hours.
  EXPECT_GT(perTag["t0"], 250);
  EXPECT_GT(perTag["rf"], 500);
  EXPECT_GT(perTag["bp"], 450);
  EXPECT_GE(perTag["wd"], 15);
  EXPECT_GT(checked, 1300);

  // Two more hours: the scrolls add no second mark beside the replayed ones.
  const DateTime restart = clock.Now();
  for (int i = 1; i <= 120; ++i) {
    const double ms = std::round((restart + i / 1440.0 - clock.Now()) * 86400000.0);
    if (ms > 0) clock.AdvanceMs(static_cast<uint32_t>(ms));
    ui->RunOneTick();
  }
  ASSERT_GE(chart.scrollCounter, 7);
  int marks = 0;
  for (int x = 0; x < kGraphWidth; ++x) {
    marks += DayMarkAt(chart.Bitmap(), x);
    EXPECT_FALSE(DayMarkAt(chart.Bitmap(), x) && DayMarkAt(chart.Bitmap(), x + 1)) << "double mark at " << x;
  }
  EXPECT_EQ(marks, 7);
}

}  // namespace
}  // namespace wx
