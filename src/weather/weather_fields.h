// SPDX-License-Identifier: GPL-2.0-or-later
// Every single value of a WeatherValues snapshot with its name, unit,
// precision and the Home Assistant classes that describe it: the one list
// current.json, MQTT and the export walk, so they name and round alike.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "weather/weather_values.h"

namespace wx {

struct WeatherField {
  std::string_view key;          // "dew_point": the JSON member, the MQTT topic's last part
  std::string_view name;         // "Dew point"
  std::string_view unit;         // "°C"; empty for the humidex
  int decimals;                  // what the measurement can tell
  std::string_view deviceClass;  // Home Assistant's, empty for none
  std::string_view stateClass;   // Home Assistant's
  uint16_t needs;                // the channels it comes from (bits 0..12; kOutdoorBit the outdoor one)
  std::optional<double> (*get)(const WeatherValues&);
};

inline constexpr uint16_t kOutdoorBit = 1u << 13;

namespace weather_fields_detail {
constexpr uint16_t O = kOutdoorBit, R = 1u << 5, W = 1u << 6, L = 1u << 7, P = 1u << 8, H = 1u << 9, D = 1u << 10;
template <auto Member>
constexpr std::optional<double> Get(const WeatherValues& v) {
  return v.*Member;
}
constexpr std::optional<double> PeakGust(const WeatherValues& v) {
  return v.peakGustToday ? std::optional<double>(v.peakGustToday->value) : std::nullopt;
}
}  // namespace weather_fields_detail

inline constexpr auto kWeatherFields = [] {
  using namespace weather_fields_detail;
  using V = WeatherValues;
  return std::array<WeatherField, 23>{{
      {"temperature", "Temperature", "°C", 1, "temperature", "measurement", O, Get<&V::temperatureC>},
      {"humidity", "Humidity", "%", 0, "humidity", "measurement", H, Get<&V::humidityPercent>},
      {"dew_point", "Dew point", "°C", 1, "temperature", "measurement", O | H, Get<&V::dewPointC>},
      {"wind_chill", "Wind chill", "°C", 1, "temperature", "measurement", O | W, Get<&V::windChillC>},
      {"heat_index", "Heat index", "°C", 1, "temperature", "measurement", O | H, Get<&V::heatIndexC>},
      {"humidex", "Humidex", "", 1, "", "measurement", O | H, Get<&V::humidex>},
      {"apparent_temperature", "Apparent temperature", "°C", 1, "temperature", "measurement", O | H | W,
       Get<&V::apparentC>},
      {"wind_speed", "Wind speed", "km/h", 1, "wind_speed", "measurement", W, Get<&V::windSpeedKmh>},
      {"wind_average_2min", "Wind 2-minute average", "km/h", 1, "wind_speed", "measurement", W,
       Get<&V::windAverage2Kmh>},
      {"wind_average_10min", "Wind 10-minute average", "km/h", 1, "wind_speed", "measurement", W,
       Get<&V::windAverage10Kmh>},
      {"wind_gust", "Wind gust", "km/h", 1, "wind_speed", "measurement", W, Get<&V::gustKmh>},
      {"wind_direction", "Wind direction", "°", 0, "wind_direction", "measurement_angle", D, Get<&V::windDirectionDeg>},
      {"peak_gust_today", "Peak gust today", "km/h", 1, "wind_speed", "measurement", W, PeakGust},
      {"rain_today", "Rain today", "mm", 2, "precipitation", "total_increasing", R, Get<&V::rainTodayMm>},
      {"rain_last_hour", "Rain last hour", "mm", 2, "precipitation", "measurement", R, Get<&V::rainLastHourMm>},
      {"rain_24h", "Rain last 24 hours", "mm", 2, "precipitation", "measurement", R, Get<&V::rain24hMm>},
      {"rain_rate", "Rain rate", "mm/h", 2, "precipitation_intensity", "measurement", R, Get<&V::rainRateMmPerHour>},
      {"station_pressure", "Station pressure", "hPa", 1, "atmospheric_pressure", "measurement", P,
       Get<&V::stationPressureHpa>},
      {"sea_level_pressure", "Sea-level pressure", "hPa", 1, "atmospheric_pressure", "measurement", P,
       Get<&V::seaLevelPressureHpa>},
      {"altimeter", "Altimeter setting", "hPa", 1, "atmospheric_pressure", "measurement", P, Get<&V::altimeterHpa>},
      {"pressure_trend_3h", "Pressure trend 3 hours", "hPa", 1, "", "measurement", P, Get<&V::pressureTrend3hHpa>},
      {"lightning_today", "Lightning today", "strikes", 0, "", "total_increasing", L, Get<&V::lightningToday>},
      {"lightning_last_hour", "Lightning last hour", "strikes", 0, "", "measurement", L, Get<&V::lightningLastHour>},
  }};
}();

// Whether a station with these channels enabled can give the value.
bool WeatherFieldAvailable(const WeatherField& field, const std::array<bool, 13>& enabled, int outdoor);

// The value rounded half away from zero to the decimals, trailing zeros
// dropped: "12.3", "0", never "-0" or "98.39999999999999"; "null" when not
// finite.
std::string RoundedNumber(double value, int decimals);

}  // namespace wx
