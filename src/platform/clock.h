// SPDX-License-Identifier: GPL-2.0-or-later
// Time as the program sees it: local date-time as days since 30 December 1899
// (fraction = time of day) and a 32-bit millisecond tick counter. Every "now"
// goes through a Clock so that tests and time-lapse runs can replace it.
#pragma once
#include <cstdint>
#include <optional>

namespace wx {

using DateTime = double;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Builds the day count of a local date-time; nullopt when the fields do not
// form a real date and time (month 13, 31 April, hour 24 ...).
std::optional<DateTime> EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                                       int second = 0, int millisecond = 0);
DateTimeParts DecodeDateTime(DateTime t);
// Midnight of the day that holds t.
DateTime DatePart(DateTime t);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime Now() const = 0;
  virtual uint32_t GetTickCount() const = 0;
};

// The host's local time. With a speed factor above 1 both readings run that
// many times faster than real time from the moment of construction.
class SystemClock : public Clock {
 public:
  explicit SystemClock(double speed = 1.0);
  DateTime Now() const override;
  uint32_t GetTickCount() const override;
  double speed() const { return speed_; }

 private:
  double speed_;
  DateTime startLocal_;
  int64_t startMonoMs_;
  uint32_t startTicks_;
};

// A clock that moves only when told to.
class FakeClock : public Clock {
 public:
  explicit FakeClock(DateTime start = 46363.5, uint32_t ticks = 1000)  // 7 Dec 2026 12:00
      : now_(start), ticks_(ticks) {}
  DateTime Now() const override { return now_; }
  uint32_t GetTickCount() const override { return ticks_; }
  // Moves both readings on by ms milliseconds.
  void AdvanceMs(uint32_t ms);
  // Moves the wall clock only (a clock jump); the tick counter is untouched.
  void JumpDays(double days) { now_ += days; }
  void SetNow(DateTime t) { now_ = t; }
  void SetTicks(uint32_t t) { ticks_ = t; }

 private:
  DateTime now_;
  uint32_t ticks_;
};

}  // namespace wx
