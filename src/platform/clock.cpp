// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/clock.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace wx {
namespace {
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDays = 25569;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}
// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}
int64_t MonoMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
DateTime LocalNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t tt = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&tt, &tm);
  const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                        tm.tm_sec > 59 ? 59 : tm.tm_sec, ms)
      .value_or(0.0);
}
}  // namespace

std::optional<DateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                       int second, int millisecond) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || millisecond < 0 || millisecond > 999)
    return std::nullopt;
  const double days = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDays);
  const double frac = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
  return days + frac;
}

DateTimeParts DecodeDateTime(DateTime t) {
  // Round to the millisecond first so that 14:05:00 never decodes as 14:04:59.999.
  int64_t totalMs = static_cast<int64_t>(std::llround(t * 86400000.0));
  int64_t days = totalMs / 86400000;
  int64_t msOfDay = totalMs % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    days -= 1;
  }
  DateTimeParts p;
  CivilFromDays(days - kUnixEpochDays, p.year, p.month, p.day);
  p.hour = static_cast<int>(msOfDay / 3600000);
  p.minute = static_cast<int>(msOfDay / 60000 % 60);
  p.second = static_cast<int>(msOfDay / 1000 % 60);
  p.millisecond = static_cast<int>(msOfDay % 1000);
  return p;
}

DateTime DatePart(DateTime t) {
  const DateTimeParts p = DecodeDateTime(t);
  return EncodeDateTime(p.year, p.month, p.day).value_or(std::floor(t));
}

SystemClock::SystemClock(double speed)
    : speed_(speed < 1.0 ? 1.0 : speed),
      startLocal_(LocalNow()),
      startMonoMs_(MonoMs()),
      startTicks_(static_cast<uint32_t>(startMonoMs_)) {}

DateTime SystemClock::Now() const {
  if (speed_ == 1.0) return LocalNow();
  return startLocal_ + static_cast<double>(MonoMs() - startMonoMs_) * speed_ / 86400000.0;
}

uint32_t SystemClock::GetTickCount() const {
  const int64_t elapsed = MonoMs() - startMonoMs_;
  return startTicks_ + static_cast<uint32_t>(static_cast<int64_t>(static_cast<double>(elapsed) * speed_));
}

void FakeClock::AdvanceMs(uint32_t ms) {
  ticks_ += ms;
  now_ += ms / 86400000.0;
}

}  // namespace wx
