// SPDX-License-Identifier: GPL-2.0-or-later
// The 8-character stamp of every record and message, its decoding, and the
// readable date text of the page and the chart.
#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace wx {

struct StampFields {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0;  // year two-digit
};

// "26l07o05" for 7 December 2026 14:05.
std::string Stamp(DateTime t);
inline std::string StampNow(const Clock& clock) { return Stamp(clock.Now()); }
// Reads the first 8 of exactly 10 characters; nullopt when the length is not 10.
// Letters or digits out of range are returned as read (not checked here).
std::optional<StampFields> PGDTtoVars(std::string_view text);
// The year of the machine's clock, for callers without a Clock of their own.
int SystemYear();
// The full year of a stamp's two digits. A stamp is written with its record,
// so it lies in the past of presentYear, or a little ahead when a clock ran
// fast: the latest century that puts it no more than kStampYearsAhead years
// after presentYear. In 2026, "99" is 1999 and "70" (a board without a
// real-time clock that started at the epoch) is 1970.
constexpr int kStampYearsAhead = 10;
int StampFullYear(int twoDigitYear, int presentYear);
// The date-time of a stamp; nullopt when the text is not 10 characters long or
// the stamp does not form a real date and time.
std::optional<DateTime> StampToDateTime(std::string_view text, int presentYear = SystemYear());
// The local date-time as seconds since 1970 (UTC); -1 where the time zone
// cannot place it.
std::time_t LocalToUnix(DateTime local);
// "2026-12-07T14:05:09+01:00": local time with the UTC offset in force then.
std::string IsoLocalTime(DateTime t);
// "07-Dec-2026, 14:05" (withSeconds: "07-Dec-2026, 14:05:09").
std::string DateTimeText(DateTime t, bool withSeconds);

}  // namespace wx
