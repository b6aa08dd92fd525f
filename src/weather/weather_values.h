// SPDX-License-Identifier: GPL-2.0-or-later
// The weather as a person reads it, derived from the readings: what
// current.json, the phone page, MQTT, the archive and the uploads show. None
// of those computes weather on its own; they read a snapshot of this.
// Every value is metric (°C, %, hPa, km/h, mm, degrees clockwise from north);
// a value that cannot be known (no reading yet, too few reads, calm for a
// direction, a setting that is missing) is empty, never zero.
#pragma once
#include <array>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace wx {

// A value and the local time it was reached: a day's high, low or peak gust.
struct TimedValue {
  double value = 0;
  DateTime when = 0;
};

// The high and low of one quantity since local midnight.
struct DayRange {
  std::optional<TimedValue> low;
  std::optional<TimedValue> high;
};

struct WeatherValues {
  DateTime when = 0;  // local time of the snapshot

  // Outdoor air: the [Station] Outdoor channel and what follows from it.
  std::optional<double> temperatureC;
  std::optional<double> humidityPercent;  // 0..100
  std::optional<double> dewPointC;
  std::optional<double> windChillC;  // the temperature itself where it does not apply
  std::optional<double> heatIndexC;  // the temperature itself where it does not apply
  std::optional<double> humidex;
  std::optional<double> apparentC;

  // Wind.
  std::optional<double> windSpeedKmh;       // between the last two reads of the counter
  std::optional<double> windAverage2Kmh;    // count difference over 2 minutes
  std::optional<double> windAverage10Kmh;   // count difference over 10 minutes
  std::optional<double> gustKmh;            // highest between-read speed in 10 minutes
  std::optional<double> windDirectionDeg;   // speed-weighted vector mean over 10 minutes
  std::optional<TimedValue> peakGustToday;  // km/h and when
  std::optional<double> peakGustDirectionDeg;

  // Rain.
  std::optional<double> rainTodayMm;  // since local midnight
  std::optional<double> rainLastHourMm;
  std::optional<double> rain24hMm;
  std::optional<double> rainRateMmPerHour;  // 4 x the last 15 minutes

  // Pressure.
  std::optional<double> stationPressureHpa;
  std::optional<double> seaLevelPressureHpa;
  std::optional<double> altimeterHpa;
  std::optional<double> pressureTrend3hHpa;  // now minus 3 hours ago, sea level

  // Lightning strikes.
  std::optional<double> lightningToday;
  std::optional<double> lightningLastHour;

  // The day's extremes: every temperature channel T0..T4, the humidity and
  // the sea-level pressure.
  std::array<DayRange, 5> temperatureDay{};
  DayRange humidityDay;
  DayRange pressureDay;
};

// The [Station] section of the secondary file.
struct StationSettings {
  bool present = false;  // the section exists
  std::string name;
  std::optional<double> altitudeM;
  std::optional<double> latitude;         // decimal degrees, north positive
  std::optional<double> longitude;        // decimal degrees, east positive
  int outdoor = 0;                        // the outdoor temperature channel, 0..4 (T0..T4)
  double windFactor = 1.974;              // km/h per count per second
  double vdd = 5.00;                      // the humidity sensor's supply, volts
  bool calibrationGivesSeaLevel = false;  // Pressure=sealevel
};

}  // namespace wx
