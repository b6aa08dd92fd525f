// SPDX-License-Identifier: GPL-2.0-or-later
// The weather derived from the readings: wind speed, gust and direction from
// the anemometer's counter and the vane, rain and lightning from their
// counters, humidity from the sensor's voltage, pressure from the
// barometer's, and what follows from them, with the day's extremes. It
// listens to the reading announcements, keeps what its windows need in
// memory and answers with a snapshot; at start it carries the day on from
// the data log.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string_view>

#include "channels/reading_observer.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "weather/weather_values.h"

namespace wx {

class Weather : public ReadingObserver {
 public:
  // settings gives the [Units] calibrations, the vane's offset and the
  // chips' serial numbers; it must outlive this object.
  Weather(const Settings& settings, StationSettings station, ErrorSink& errors);

  // Takes the [Station] settings (again after the configuration was read);
  // what was gathered so far is kept.
  void Configure(StationSettings station);

  void OnReading(const Reading& reading) override;
  WeatherValues Snapshot(DateTime now) const;

  // Takes the data log's readings of the 24 hours before now, so that rain
  // today, the windows, the day's extremes and the peak gust carry on after
  // a restart. Reads at most kSeedByteBound bytes from the end of the file.
  // Returns how many readings it took.
  int SeedFromLog(const std::filesystem::path& dataLog, DateTime now);
  // One data log line of that seeding (records of other kinds are passed by).
  bool SeedLine(std::string_view line, DateTime now);

  const StationSettings& station() const { return station_; }

  static constexpr int64_t kSeedByteBound = 32 << 20;

 private:
  // The increase of a counter since its previous read, modulo 10^9; a
  // counter that went down (a reset) or leapt (a new chip) gives 0.
  struct Counter {
    bool seen = false;
    int32_t last = 0;
    int64_t Step(int32_t count);
  };
  struct Amount {
    DateTime when;
    double value;
  };
  struct WindRead {
    DateTime when;
    int64_t total;                   // counts since start, resets left out
    std::optional<double> speedKmh;  // from the read before, when it gave one
  };
  struct Direction {
    DateTime when;
    double degrees;
    double weight;
  };

  void NewDay(DateTime when);
  void ShiftBack(DateTime by);
  void Temperature(int channel, double celsius, DateTime when);
  void Wind(int32_t count, DateTime when);
  void Vane(int index, DateTime when);
  void Humidity(double hundredths, DateTime when);
  void Pressure(double hundredths, DateTime when);
  std::optional<double> WindAverage(DateTime now, double seconds) const;
  bool Today(DateTime now) const { return DatePart(now) == day_; }

  const Settings& settings_;
  StationSettings station_;
  ErrorSink& errors_;
  int humidityChipChannel_ = -1;  // the temperature channel that reads the humidity's DS2438

  DateTime latest_ = 0;  // the newest reading's time
  DateTime day_ = -1;    // midnight of the day the day's values belong to

  std::array<std::optional<double>, 5> temperature_{};
  std::optional<double> humidity_;
  bool humidityWarned_ = false;
  std::optional<double> stationHpa_, seaLevelHpa_;
  std::deque<Amount> pressure_;  // sea level (station without an altitude), 3 hours

  Counter rainCounter_, windCounter_, lightningCounter_;
  std::deque<Amount> rain_;       // mm, 24 hours
  std::deque<Amount> lightning_;  // strikes, 1 hour
  double rainToday_ = 0, lightningToday_ = 0;
  DateTime windWhen_ = 0;
  int64_t windTotal_ = 0;
  std::deque<WindRead> wind_;        // 10 minutes
  std::deque<Direction> direction_;  // 10 minutes
  std::optional<double> vaneDegrees_;

  std::optional<TimedValue> peakGust_;
  std::optional<double> peakGustDirection_;
  std::array<DayRange, 5> temperatureDay_{};
  DayRange humidityDay_, pressureDay_;
};

}  // namespace wx
