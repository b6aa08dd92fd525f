// SPDX-License-Identifier: GPL-2.0-or-later
// The history an owner browses, drawn from the archive: history.html (the
// last day) and history-week/-month/-year.html, each with a chart per
// quantity (inline SVG: axes, units, time labels; nothing fetched from
// elsewhere) and the period's highs and lows with their times; the year page
// adds the all-time records. Also the climatological summaries as text,
// NOAA-YYYY-MM.txt and NOAA-YYYY.txt.
#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "archive/archive_db.h"
#include "weather/weather_values.h"

namespace wx {

// One line or set of bars of a chart; NaN values leave a gap.
struct ChartSeries {
  enum class Style : uint8_t { Line, Dots, Bars };
  std::string name;
  uint32_t colour = 0;  // 0xRRGGBB
  Style style = Style::Line;
  std::vector<std::pair<int64_t, double>> points;  // archive seconds, value
};

struct ChartSpec {
  std::string title;
  std::string unit;
  int64_t from = 0, to = 0;  // the time axis
  int64_t gap = 0;           // points further apart than this are not joined
  double barWidth = 0;       // seconds a bar covers
  std::vector<ChartSeries> series;
  // A fixed value axis (humidity 0..100, direction 0..360); otherwise it
  // fits the data, from zero for amounts.
  double fixedLow = std::numeric_limits<double>::quiet_NaN();
  double fixedHigh = std::numeric_limits<double>::quiet_NaN();
  bool fromZero = false;
  bool compassAxis = false;  // label 0..360 as N, E, S, W
};

// An SVG drawing of the chart that scales to its container's width.
std::string SvgChart(const ChartSpec& spec);

enum class HistoryPeriod : uint8_t { Day, Week, Month, Year };

// The page of a period ending at `now` (archive seconds); the month and year
// pages cover the calendar month and year of `now`.
std::string HistoryPage(ArchiveDb& db, HistoryPeriod period, int64_t now, const std::string& stationName);
const char* HistoryFileName(HistoryPeriod period);

// The climatological summaries of a month (1..12) and of a year.
std::string MonthSummary(ArchiveDb& db, int year, int month, const StationSettings& station);
std::string YearSummary(ArchiveDb& db, int year, const StationSettings& station);

}  // namespace wx
