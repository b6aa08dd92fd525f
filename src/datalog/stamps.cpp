// SPDX-License-Identifier: GPL-2.0-or-later
#include "datalog/stamps.h"

#include <cstdio>
#include <ctime>

namespace wx {
namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string Stamp(DateTime t) {
  const DateTimeParts p = DecodeDateTime(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%c%02d%c%02d", p.year % 100, static_cast<char>(96 + p.month),
                p.day, static_cast<char>(97 + p.hour), p.minute);
  return buf;
}

std::optional<StampFields> PGDTtoVars(std::string_view text) {
  if (text.size() != 10) return std::nullopt;
  auto two = [&](size_t i) {
    return static_cast<uint16_t>((text[i] - '0') * 10 + (text[i + 1] - '0'));
  };
  StampFields f;
  f.year = two(0);
  f.month = static_cast<uint16_t>(static_cast<unsigned char>(text[2]) - 96);
  f.day = two(3);
  f.hour = static_cast<uint16_t>(static_cast<unsigned char>(text[5]) - 97);
  f.minute = two(6);
  return f;
}

int SystemYear() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (!::localtime_r(&now, &tm)) return 2000;
  return tm.tm_year + 1900;
}

int StampFullYear(int twoDigitYear, int presentYear) {
  const int latest = presentYear + kStampYearsAhead;
  return latest - ((latest % 100) - twoDigitYear % 100 + 100) % 100;
}

std::optional<DateTime> StampToDateTime(std::string_view text, int presentYear) {
  const auto f = PGDTtoVars(text);
  if (!f) return std::nullopt;
  // PGDTtoVars does not check its characters; a wrong one must not become a
  // plausible but wrong date.
  for (size_t i : {0, 1, 3, 4, 6, 7})
    if (!IsDigit(text[i])) return std::nullopt;
  if (text[2] < 'a' || text[2] > 'l' || text[5] < 'a' || text[5] > 'x') return std::nullopt;
  return EncodeDateTime(StampFullYear(f->year, presentYear), f->month, f->day, f->hour, f->minute, 0);
}

namespace {

// The local wall-clock time as mktime takes it, leaving the offset to the
// time zone's rules.
std::tm LocalTm(const DateTimeParts& p) {
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  return tm;
}

}  // namespace

std::time_t LocalToUnix(DateTime local) {
  std::tm tm = LocalTm(DecodeDateTime(local));
  return std::mktime(&tm);
}

std::string IsoLocalTime(DateTime t) {
  const DateTimeParts p = DecodeDateTime(t);
  std::tm tm = LocalTm(p);
  long offset = 0;
  if (std::mktime(&tm) != static_cast<std::time_t>(-1)) offset = tm.tm_gmtoff;
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", p.year, p.month, p.day, p.hour,
                p.minute, p.second, sign, offset / 3600, (offset / 60) % 60);
  return buf;
}

std::string DateTimeText(DateTime t, bool withSeconds) {
  static constexpr const char* kMonths = "xxxJanFebMarAprMayJunJlyAugSepOctNovDec";
  const DateTimeParts p = DecodeDateTime(t);
  const int m = (p.month >= 1 && p.month <= 12) ? p.month : 0;
  char buf[48];
  if (withSeconds)
    std::snprintf(buf, sizeof buf, "%02d-%.3s-%04d, %02d:%02d:%02d", p.day, kMonths + 3 * m, p.year,
                  p.hour, p.minute, p.second);
  else
    std::snprintf(buf, sizeof buf, "%02d-%.3s-%04d, %02d:%02d", p.day, kMonths + 3 * m, p.year,
                  p.hour, p.minute);
  return buf;
}

}  // namespace wx
