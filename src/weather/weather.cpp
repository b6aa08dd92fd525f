// SPDX-License-Identifier: GPL-2.0-or-later
#include "weather/weather.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <utility>

#include "channels/channel_table.h"
#include "datalog/records.h"
#include "platform/text_encoding.h"
#include "tmex/families.h"
#include "weather/formulas.h"
#include "weather/station.h"

namespace wx {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kMinute = 60 * kSecond;
constexpr double kHour = 60 * kMinute;
constexpr int64_t kCounterModulus = 1000000000;
// More than this between two reads is not a count but a changed chip: the
// anemometer would have to turn at thousands of km/h.
constexpr int64_t kMostCountsPerRead = 100000;
// Reads of the wind counter further apart than this give no speed: what
// happened between them is unknown (a stop, a clock step).
constexpr double kLongestWindGap = 5 * kMinute;
constexpr double kWindWindow = 10 * kMinute;
constexpr double kTrendSpan = 3 * kHour;
// The pressure of 3 hours ago must have been read this close to then.
constexpr double kTrendSlack = 15 * kMinute;
// With no reading of the outdoor temperature: the standard atmosphere's.
constexpr double kStandardCelsius = 15.0;
// The humidity formula's reference temperature (no correction).
constexpr double kHumidityReferenceCelsius = 25.0;

// Seconds between two reading times, to the clock's millisecond: the
// fraction of a day carries no more.
double Seconds(DateTime from, DateTime to) { return std::round((to - from) * 86400000.0) / 1000.0; }

void Extend(DayRange& range, double value, DateTime when) {
  if (!range.low || value < range.low->value) range.low = TimedValue{value, when};
  if (!range.high || value > range.high->value) range.high = TimedValue{value, when};
}

template <typename T>
double Sum(const std::deque<T>& amounts, DateTime from) {
  double s = 0;
  for (const auto& a : amounts)
    if (a.when > from) s += a.value;
  return s;
}

template <typename T>
void DropBefore(std::deque<T>& items, DateTime from) {
  while (!items.empty() && items.front().when < from) items.pop_front();
}

}  // namespace

int64_t Weather::Counter::Step(int32_t count) {
  if (!seen) {
    seen = true;
    last = count;
    return 0;
  }
  int64_t d = int64_t(count) - last;
  if (d < 0) d += kCounterModulus;  // the 10^9 wrap, or a reset that the bound below refuses
  last = count;
  return d <= kMostCountsPerRead ? d : 0;
}

Weather::Weather(const Settings& settings, StationSettings station, ErrorSink& errors)
    : settings_(settings), errors_(errors) {
  Configure(std::move(station));
}

void Weather::Configure(StationSettings station) {
  station_ = std::move(station);
  // A humidity sensor's DS2438 measures its own temperature; when one of the
  // temperature channels reads that chip, its value corrects the humidity.
  const auto& rom = settings_.station.sensorRom;
  humidityChipChannel_ = -1;
  for (int ch = 0; ch < 5; ++ch)
    if (rom[ch][0] == kFamilyDs2438 && rom[ch] == rom[9]) humidityChipChannel_ = ch;
}

void Weather::NewDay(DateTime when) {
  const DateTime day = DatePart(when);
  if (day == day_) return;
  day_ = day;
  rainToday_ = lightningToday_ = 0;
  peakGust_.reset();
  peakGustDirection_.reset();
  temperatureDay_ = {};
  humidityDay_ = pressureDay_ = {};
}

// The clock went back (the end of summer time, or set by hand): the windows
// keep their order by moving what they hold back by as much.
void Weather::ShiftBack(DateTime by) {
  for (auto& a : rain_) a.when -= by;
  for (auto& a : lightning_) a.when -= by;
  for (auto& a : pressure_) a.when -= by;
  for (auto& w : wind_) w.when -= by;
  for (auto& d : direction_) d.when -= by;
  windWhen_ -= by;
}

void Weather::OnReading(const Reading& r) {
  if (!IsChannel(r.channel) || !std::isfinite(r.raw) || !std::isfinite(r.when)) return;
  if (latest_ != 0 && r.when < latest_ - kSecond) ShiftBack(latest_ - r.when);
  latest_ = r.when;
  NewDay(r.when);
  switch (r.channel) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
      Temperature(r.channel, r.raw, r.when);
      break;
    case 5: {
      const double mm = double(rainCounter_.Step(int32_t(r.raw))) * RainMmPerCount(settings_.units);
      rainToday_ += mm;
      if (mm > 0) rain_.push_back({r.when, mm});
      DropBefore(rain_, r.when - 24 * kHour);
      break;
    }
    case 6:
      Wind(int32_t(r.raw), r.when);
      break;
    case 7: {
      const double strikes = double(lightningCounter_.Step(int32_t(r.raw)));
      lightningToday_ += strikes;
      if (strikes > 0) lightning_.push_back({r.when, strikes});
      DropBefore(lightning_, r.when - kHour);
      break;
    }
    case 8:
      Pressure(r.raw, r.when);
      break;
    case 9:
      Humidity(r.raw, r.when);
      break;
    case 10:
      if (!r.average) Vane(int(r.raw), r.when);
      break;
    default:
      break;
  }
}

void Weather::Temperature(int channel, double celsius, DateTime when) {
  temperature_[channel] = celsius;
  Extend(temperatureDay_[channel], celsius, when);
}

void Weather::Wind(int32_t count, DateTime when) {
  const bool first = !windCounter_.seen;
  const int64_t step = windCounter_.Step(count);
  const double seconds = Seconds(windWhen_, when);
  std::optional<double> speed;
  if (!first && seconds > 0.5 && seconds <= kLongestWindGap * 86400.0) {
    speed = station_.windFactor * double(step) / seconds;
  } else if (!first && seconds > kLongestWindGap * 86400.0) {
    wind_.clear();  // the averages start again after a gap
  }
  if (first || seconds > 0.5 || wind_.empty()) {
    windTotal_ += step;
    windWhen_ = when;
    wind_.push_back({when, windTotal_, speed});
  } else {
    // A second read at the same time: its counts join the newest read.
    windTotal_ += step;
    wind_.back().total = windTotal_;
  }
  DropBefore(wind_, when - kWindWindow - kMinute);
  if (speed && (!peakGust_ || *speed > peakGust_->value)) {
    peakGust_ = TimedValue{*speed, when};
    peakGustDirection_ = vaneDegrees_;
  }
}

void Weather::Vane(int index, DateTime when) {
  const double degrees = CompassDegrees(index, settings_.station.windOffset);
  if (degrees < 0) return;  // no valid code
  vaneDegrees_ = degrees;
  // Weighted by the wind speed of the moment; with no anemometer read at all,
  // every vane reading counts the same.
  double weight = 1;
  if (windCounter_.seen) weight = !wind_.empty() && wind_.back().speedKmh ? *wind_.back().speedKmh : 0;
  direction_.push_back({when, degrees, weight});
  DropBefore(direction_, when - kWindWindow - kMinute);
}

void Weather::Humidity(double hundredths, DateTime when) {
  double chip = kHumidityReferenceCelsius;
  if (humidityChipChannel_ >= 0 && temperature_[humidityChipChannel_])
    chip = *temperature_[humidityChipChannel_];
  else if (temperature_[station_.outdoor])
    chip = *temperature_[station_.outdoor];
  const double rh = SensorHumidityPercent(hundredths / 100.0, station_.vdd, chip);
  if ((rh < 0 || rh > 100) && !humidityWarned_) {
    humidityWarned_ = true;
    char text[200];
    std::snprintf(text, sizeof text,
                  "The humidity sensor's %.2f V gives %.1f %%, outside 0 to 100 %%; it is shown as %d %%. "
                  "Check [Station] Vdd and the sensor.",
                  hundredths / 100.0, rh, rh < 0 ? 0 : 100);
    errors_.ShowError(text);
  }
  humidity_ = std::clamp(rh, 0.0, 100.0);
  Extend(humidityDay_, *humidity_, when);
}

void Weather::Pressure(double hundredths, DateTime when) {
  const auto calibrated = CalibratedPressureHpa(settings_.units, hundredths);
  if (!calibrated) return;
  const double celsius = temperature_[station_.outdoor].value_or(kStandardCelsius);
  const auto altitude = station_.altitudeM;
  stationHpa_.reset();
  seaLevelHpa_.reset();
  if (station_.calibrationGivesSeaLevel) {
    seaLevelHpa_ = *calibrated;
    if (altitude) stationHpa_ = StationPressureHpa(*calibrated, *altitude, celsius);
  } else {
    stationHpa_ = *calibrated;
    if (altitude) seaLevelHpa_ = SeaLevelPressureHpa(*calibrated, *altitude, celsius);
  }
  const double shown = seaLevelHpa_ ? *seaLevelHpa_ : *stationHpa_;
  pressure_.push_back({when, shown});
  DropBefore(pressure_, when - kTrendSpan - 2 * kTrendSlack);
  Extend(pressureDay_, shown, when);
}

std::optional<double> Weather::WindAverage(DateTime now, double seconds) const {
  if (wind_.empty() || wind_.back().when < now - kLongestWindGap) return std::nullopt;
  const auto first =
      std::find_if(wind_.begin(), wind_.end(), [&](const WindRead& w) { return w.when >= now - seconds * kSecond; });
  if (first == wind_.end()) return std::nullopt;
  const double span = Seconds(first->when, wind_.back().when);
  if (span < 0.5) return std::nullopt;
  return station_.windFactor * double(wind_.back().total - first->total) / span;
}

WeatherValues Weather::Snapshot(DateTime now) const {
  WeatherValues v;
  v.when = now;
  const bool today = Today(now);

  // Wind.
  if (!wind_.empty() && wind_.back().when >= now - kLongestWindGap) {
    v.windSpeedKmh = wind_.back().speedKmh;
    for (const WindRead& w : wind_)
      if (w.speedKmh && w.when >= now - kWindWindow && (!v.gustKmh || *w.speedKmh > *v.gustKmh)) v.gustKmh = w.speedKmh;
  }
  v.windAverage2Kmh = WindAverage(now, 120);
  v.windAverage10Kmh = WindAverage(now, 600);
  double east = 0, north = 0, weight = 0;
  for (const Direction& d : direction_) {
    if (d.when < now - kWindWindow) continue;
    const double a = d.degrees * std::numbers::pi / 180.0;
    east += d.weight * std::sin(a);
    north += d.weight * std::cos(a);
    weight += d.weight;
  }
  if (weight > 0 && std::hypot(east, north) > 1e-9 * weight) {
    double deg = std::atan2(east, north) * 180.0 / std::numbers::pi;
    if (deg < 0) deg += 360.0;
    v.windDirectionDeg = deg;
  }
  if (today) {
    v.peakGustToday = peakGust_;
    v.peakGustDirectionDeg = peakGustDirection_;
  }

  // Rain and lightning.
  if (rainCounter_.seen) {
    v.rainTodayMm = today ? rainToday_ : 0.0;
    v.rainLastHourMm = Sum(rain_, now - kHour);
    v.rain24hMm = Sum(rain_, now - 24 * kHour);
    v.rainRateMmPerHour = 4 * Sum(rain_, now - 15 * kMinute);
  }
  if (lightningCounter_.seen) {
    v.lightningToday = today ? lightningToday_ : 0.0;
    v.lightningLastHour = Sum(lightning_, now - kHour);
  }

  // Pressure.
  v.stationPressureHpa = stationHpa_;
  v.seaLevelPressureHpa = seaLevelHpa_;
  if (stationHpa_ && station_.altitudeM) v.altimeterHpa = AltimeterHpa(*stationHpa_, *station_.altitudeM);
  if (!pressure_.empty()) {
    const Amount* then = nullptr;
    for (const Amount& a : pressure_)
      if (a.when <= now - kTrendSpan) then = &a;
    if (then && then->when >= now - kTrendSpan - kTrendSlack)
      v.pressureTrend3hHpa = pressure_.back().value - then->value;
  }

  // The outdoor air.
  v.temperatureC = temperature_[station_.outdoor];
  v.humidityPercent = humidity_;
  const auto wind = v.windAverage10Kmh ? v.windAverage10Kmh : v.windSpeedKmh;
  if (v.temperatureC) {
    const double t = *v.temperatureC;
    if (wind) v.windChillC = WindChillC(t, *wind);
    if (humidity_) {
      const double rh = *humidity_;
      v.heatIndexC = HeatIndexC(t, rh);
      if (rh > 0) {
        v.dewPointC = DewPointC(t, rh);
        v.humidex = Humidex(t, rh);
      }
      if (wind) v.apparentC = ApparentTemperatureC(t, rh, *wind / 3.6);
    }
  }

  if (today) {
    v.temperatureDay = temperatureDay_;
    v.humidityDay = humidityDay_;
    v.pressureDay = pressureDay_;
  }
  return v;
}

bool Weather::SeedLine(std::string_view line, DateTime now) {
  const RecordLine r = ReadRecordLine(line, DecodeDateTime(now).year);
  if (r.fault != RecordFault::None || r.channel < 0 || !r.time) return false;
  if (*r.time > now || *r.time < now - 24 * kHour) return false;
  Reading reading;
  reading.channel = r.channel;
  reading.when = *r.time;
  if (r.celsius)
    reading.raw = *r.celsius;
  else if (r.count)
    reading.raw = *r.count;
  else
    return false;  // a wind record: the column's histogram, not a vane reading
  OnReading(reading);
  return true;
}

int Weather::SeedFromLog(const std::filesystem::path& dataLog, DateTime now) {
  // A FIFO or a device in the log's place must not hold up the start.
  const int fd = ::open(dataLog.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    ::close(fd);
    return 0;
  }
  const int64_t size = st.st_size;
  // From the end, a window that grows until its first whole line is older
  // than the 24 hours (or the file's start or the bound is reached).
  const int year = DecodeDateTime(now).year;
  std::string text;
  for (int64_t window = 256 << 10;; window *= 2) {
    const int64_t start = std::max<int64_t>(0, size - std::min(window, kSeedByteBound));
    text.resize(size_t(size - start));
    const ssize_t got = ::pread(fd, text.data(), text.size(), start);
    text.resize(got > 0 ? size_t(got) : 0);
    if (start > 0) text.erase(0, std::min(text.size(), text.find('\n') + 1));  // a partial line
    if (start == 0 || window >= kSeedByteBound) break;
    bool older = false;
    for (size_t at = 0; at < text.size();) {
      const size_t end = std::min(text.find('\n', at), text.size());
      const RecordLine r = ReadRecordLine(std::string_view(text).substr(at, end - at), year);
      if (r.time) {
        older = *r.time < now - 24 * kHour;
        break;
      }
      at = end + 1;
    }
    if (older) break;
  }
  ::close(fd);
  int taken = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = std::string_view(text).substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (SeedLine(line, now)) ++taken;
    at = end + 1;
  }
  return taken;
}

}  // namespace wx
