// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/archive_record.h"

#include <cmath>
#include <ctime>

namespace wx {

namespace {
constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as a DateTime

// Stored values keep two decimals: enough for every quantity, and the same
// number whichever way the archive was filled.
std::optional<double> Rounded(const std::optional<double>& v) {
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return std::round(*v * 100.0) / 100.0;
}
}  // namespace

int64_t ArchiveSeconds(DateTime when) {
  // To the millisecond first, as a stamp is made: 07:59:59.9997 is 08:00.
  const int64_t ms = std::llround(when * 86400000.0) - static_cast<int64_t>(kUnixEpochDays) * 86400000;
  const int64_t minutes = ms / 60000 - (ms % 60000 < 0 ? 1 : 0);
  return minutes * 60;
}

DateTime FromArchiveSeconds(int64_t seconds) { return kUnixEpochDays + static_cast<double>(seconds) / 86400.0; }

int ArchiveDay(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

ArchiveRecorder::ArchiveRecorder(int intervalSeconds, Sink sink, int outdoor)
    : interval_(intervalSeconds > 0 ? intervalSeconds : 300), sink_(std::move(sink)),
      outdoor_(outdoor >= 0 && outdoor < 5 ? outdoor : 0) {}

DayDelta& ArchiveRecorder::Delta(Quantity q, int day) {
  for (DayDelta& d : pending_)
    if (d.day == day && d.quantity == q) return d;
  DayDelta& d = pending_.emplace_back();
  d.day = day;
  d.quantity = q;
  return d;
}

// The first time a value is reached counts: ties keep the earlier time.
void ArchiveRecorder::Low(Quantity q, int64_t t, const std::optional<double>& low) {
  const auto lo = Rounded(low);
  if (!lo) return;
  DayDelta& d = Delta(q, ArchiveDay(t));
  if (!d.min || *lo < *d.min || (*lo == *d.min && t < d.minTime)) {
    d.min = lo;
    d.minTime = t;
  }
}

void ArchiveRecorder::High(Quantity q, int64_t t, const std::optional<double>& high, const std::optional<double>& dir) {
  const auto hi = Rounded(high);
  if (!hi) return;
  DayDelta& d = Delta(q, ArchiveDay(t));
  if (!d.max || *hi > *d.max || (*hi == *d.max && t < d.maxTime)) {
    d.max = hi;
    d.maxTime = t;
    d.maxDir = Rounded(dir);
  }
}

void ArchiveRecorder::Range(Quantity q, const DayRange& range) {
  if (range.low) Low(q, ArchiveSeconds(range.low->when), range.low->value);
  if (range.high) High(q, ArchiveSeconds(range.high->when), range.high->value);
}

void ArchiveRecorder::Changed(Quantity q, int64_t t, const std::optional<double>& now,
                              const std::optional<double>& before) {
  if (!now || (haveLast_ && before && Rounded(now) == Rounded(before))) return;
  Low(q, t, now);
  High(q, t, now);
}

void ArchiveRecorder::Observe(const WeatherValues& v) {
  const int64_t t = ArchiveSeconds(v.when);
  const int64_t slotEnd = (t / interval_ + (t % interval_ < 0 ? 0 : 1)) * interval_;
  if (haveLast_ && slotEnd != slotEnd_) EmitRecord();
  slotEnd_ = slotEnd;
  // The weather keeps the day's extremes of what it reads, with their
  // times; a snapshot's values are only the latest, carried on between
  // readings (and past midnight), so a value taken from them counts only
  // when a reading changed it.
  Range(Quantity::OutTemp, v.temperatureDay[static_cast<size_t>(outdoor_)]);
  Range(Quantity::Humidity, v.humidityDay);
  Range(Quantity::Pressure, v.pressureDay);
  if (v.peakGustToday)
    High(Quantity::Wind, ArchiveSeconds(v.peakGustToday->when), v.peakGustToday->value, v.peakGustDirectionDeg);
  Changed(Quantity::DewPoint, t, v.dewPointC, last_.dewPointC);
  Changed(Quantity::WindChill, t, v.windChillC, last_.windChillC);
  Changed(Quantity::HeatIndex, t, v.heatIndexC, last_.heatIndexC);
  if (!haveLast_ || Rounded(v.rainRateMmPerHour) != Rounded(last_.rainRateMmPerHour))
    High(Quantity::Rain, t, v.rainRateMmPerHour);
  last_ = v;
  lastTime_ = t;
  haveLast_ = true;
}

void ArchiveRecorder::SeedTotals(int day, std::optional<double> rain, std::optional<double> lightning) {
  lastRain_ = rain;
  lastLightning_ = lightning;
  lastRainDay_ = lastLightningDay_ = day;
}

std::optional<double> ArchiveRecorder::Increase(const std::optional<double>& total, int day,
                                                std::optional<double>& lastTotal, int& lastDay) {
  if (!total) return std::nullopt;
  // A new day starts its total from zero; a total that fell (a restart of
  // the count) gives nothing rather than a negative amount.
  double added = *total;
  if (lastTotal && lastDay == day) added = std::max(0.0, *total - *lastTotal);
  lastTotal = total;
  lastDay = day;
  return Rounded(added);
}

void ArchiveRecorder::EmitRecord() {
  const WeatherValues& v = last_;
  ArchiveRecord r;
  r.time = slotEnd_;
  r.interval = interval_;
  r[Field::OutTemp] = Rounded(v.temperatureC);
  r[Field::DewPoint] = Rounded(v.dewPointC);
  r[Field::WindChill] = Rounded(v.windChillC);
  r[Field::HeatIndex] = Rounded(v.heatIndexC);
  r[Field::Humidity] = Rounded(v.humidityPercent);
  r[Field::Pressure] = Rounded(v.seaLevelPressureHpa);
  r[Field::StationPressure] = Rounded(v.stationPressureHpa);
  r[Field::WindSpeed] = Rounded(v.windAverage10Kmh);
  r[Field::WindGust] = Rounded(v.gustKmh);
  r[Field::WindDir] = Rounded(v.windDirectionDeg);
  const int day = ArchiveDay(lastTime_);
  r[Field::Rain] = Increase(v.rainTodayMm, day, lastRain_, lastRainDay_);
  r[Field::RainRate] = Rounded(v.rainRateMmPerHour);
  r[Field::Lightning] = Increase(v.lightningToday, day, lastLightning_, lastLightningDay_);

  // The day's sums and counts come from the records: a mean over time, and
  // the rain and strikes of the day.
  const auto add = [&](Quantity q, const std::optional<double>& x) {
    if (!x) return;
    DayDelta& d = Delta(q, day);
    d.sum += *x;
    d.count += 1;
  };
  add(Quantity::OutTemp, r[Field::OutTemp]);
  add(Quantity::DewPoint, r[Field::DewPoint]);
  add(Quantity::WindChill, r[Field::WindChill]);
  add(Quantity::HeatIndex, r[Field::HeatIndex]);
  add(Quantity::Humidity, r[Field::Humidity]);
  add(Quantity::Pressure, r[Field::Pressure]);
  add(Quantity::Wind, r[Field::WindSpeed]);
  add(Quantity::Rain, r[Field::Rain]);
  add(Quantity::Lightning, r[Field::Lightning]);
  if (r[Field::WindSpeed] && r[Field::WindDir]) {
    DayDelta& d = Delta(Quantity::Wind, day);
    const double rad = *r[Field::WindDir] * M_PI / 180.0;
    d.xsum += *r[Field::WindSpeed] * std::sin(rad);
    d.ysum += *r[Field::WindSpeed] * std::cos(rad);
  }
  sink_(ArchiveBatch{r, std::move(pending_)});
  pending_.clear();
}

void ArchiveRecorder::Finish() {
  if (pending_.empty()) return;
  sink_(ArchiveBatch{std::nullopt, std::move(pending_)});
  pending_.clear();
}

}  // namespace wx
