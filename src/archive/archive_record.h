// SPDX-License-Identifier: GPL-2.0-or-later
// What the archive keeps: a record of the weather values at the end of each
// interval, and per day and quantity the extremes with their times (from
// every reading), the sums and counts of the records, and for the wind the
// vector sums and the peak gust's direction. Times are local wall-clock
// seconds since 1970, to the minute, as the data log's stamps carry them:
// the live archive and one rebuilt from the log then hold the same numbers.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "weather/weather_values.h"

namespace wx {

// The columns of an archive record, in the table's order.
enum class Field : uint8_t {
  OutTemp,
  DewPoint,
  WindChill,
  HeatIndex,
  Humidity,
  Pressure,  // sea level
  StationPressure,
  WindSpeed,  // 10-minute average
  WindGust,
  WindDir,
  Rain,  // mm in the interval
  RainRate,
  Lightning,  // strikes in the interval
};
inline constexpr int kFields = 13;

struct FieldInfo {
  std::string_view column;  // the SQL column and the daily summary's quantity
  std::string_view label;   // what a person reads
  std::string_view unit;
  int decimals;
};
inline constexpr std::array<FieldInfo, kFields> kFieldTable{{
    {"out_temp", "Temperature", "°C", 1},
    {"dew_point", "Dew point", "°C", 1},
    {"wind_chill", "Wind chill", "°C", 1},
    {"heat_index", "Heat index", "°C", 1},
    {"humidity", "Humidity", "%", 0},
    {"pressure", "Pressure", "hPa", 1},
    {"station_pressure", "Station pressure", "hPa", 1},
    {"wind_speed", "Wind speed", "km/h", 1},
    {"wind_gust", "Gust", "km/h", 1},
    {"wind_dir", "Wind direction", "°", 0},
    {"rain", "Rain", "mm", 2},
    {"rain_rate", "Rain rate", "mm/h", 1},
    {"lightning", "Lightning", "strikes", 0},
}};
constexpr const FieldInfo& Info(Field f) { return kFieldTable[static_cast<size_t>(f)]; }

struct ArchiveRecord {
  int64_t time = 0;  // the end of the interval
  int interval = 0;  // seconds
  std::array<std::optional<double>, kFields> values{};
  std::optional<double>& operator[](Field f) { return values[static_cast<size_t>(f)]; }
  const std::optional<double>& operator[](Field f) const { return values[static_cast<size_t>(f)]; }
  bool operator==(const ArchiveRecord&) const = default;
};

// The daily summary's quantities: one row per day for each.
enum class Quantity : uint8_t { OutTemp, DewPoint, WindChill, HeatIndex, Humidity, Pressure, Wind, Rain, Lightning };
inline constexpr int kQuantities = 9;
inline constexpr std::array<std::string_view, kQuantities> kQuantityNames{
    "out_temp", "dew_point", "wind_chill", "heat_index", "humidity", "pressure", "wind", "rain", "lightning"};

// What one batch adds to a day's row: the extremes seen since the last batch,
// and the sums of its records. The database merges it into the row, so a
// restart in the middle of a day loses nothing of the morning.
struct DayDelta {
  int day = 0;  // yyyymmdd
  Quantity quantity = Quantity::OutTemp;
  std::optional<double> min, max;
  int64_t minTime = 0, maxTime = 0;
  std::optional<double> maxDir;  // wind: the direction of the peak gust
  double sum = 0;
  int64_t count = 0;
  double xsum = 0, ysum = 0;  // wind: speed-weighted east and north parts
  bool operator==(const DayDelta&) const = default;
};

// One transaction's worth: a record (none at the end of a run) and the
// deltas of the days it touched.
struct ArchiveBatch {
  std::optional<ArchiveRecord> record;
  std::vector<DayDelta> days;
};

// Local wall-clock seconds since 1970 of a DateTime, cut to the minute.
int64_t ArchiveSeconds(DateTime when);
DateTime FromArchiveSeconds(int64_t seconds);
// yyyymmdd of archive seconds.
int ArchiveDay(int64_t seconds);

// Turns the stream of snapshots (one per reading, in time order) into
// batches: a record when a reading falls into the next interval, the day's
// extremes from every reading. Does no I/O: the live monitor hands the
// batches to a worker, the rebuild writes them at once.
class ArchiveRecorder {
 public:
  using Sink = std::function<void(ArchiveBatch&&)>;
  // outdoor: the [Station] Outdoor channel, whose day range is the
  // temperature's.
  ArchiveRecorder(int intervalSeconds, Sink sink, int outdoor = 0);
  void Observe(const WeatherValues& values);
  // The day's rain and strikes the archive already holds, so that a restart
  // adds only what fell since (the weather's day totals start at midnight).
  void SeedTotals(int day, std::optional<double> rain, std::optional<double> lightning);
  // The extremes of the unfinished interval, without a record: at the end of
  // a run or of the logs.
  void Finish();

 private:
  void Low(Quantity q, int64_t t, const std::optional<double>& low);
  void High(Quantity q, int64_t t, const std::optional<double>& high, const std::optional<double>& dir = std::nullopt);
  void Range(Quantity q, const DayRange& range);
  // A value computed from several readings counts when a reading changed it.
  void Changed(Quantity q, int64_t t, const std::optional<double>& now, const std::optional<double>& before);
  DayDelta& Delta(Quantity q, int day);
  void EmitRecord();
  // What a day-total value (rain, lightning since midnight) adds since the
  // last record.
  static std::optional<double> Increase(const std::optional<double>& total, int day, std::optional<double>& lastTotal,
                                        int& lastDay);

  int interval_;
  Sink sink_;
  int outdoor_;
  int64_t slotEnd_ = 0;
  bool haveLast_ = false;
  WeatherValues last_;
  int64_t lastTime_ = 0;
  std::optional<double> lastRain_, lastLightning_;
  int lastRainDay_ = 0, lastLightningDay_ = 0;
  std::vector<DayDelta> pending_;
};

}  // namespace wx
