// SPDX-License-Identifier: GPL-2.0-or-later
// The text of every data log record: tag, stamp, value field.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "datalog/stamps.h"
#include "platform/clock.h"

namespace wx {

// Hundredths of a degree with sign and four digits, no decimal point:
// 21.5 gives "+2150", -3.25 gives "-0325". Values beyond +-99.99 (and
// non-finite ones) saturate at "+9999" / "-9999" rather than losing a digit.
std::string TemperatureField(float celsius);
// "t0".."t4" + stamp + field (15 characters).
std::string TemperatureRecord(int channel, const std::string& stamp, float celsius);
// tag ("ws", "rf", "lt", "b1", "b2") + stamp + count modulo 1e9 in 9 digits.
// A negative count is reduced into 0..999999999 so the field keeps its width.
std::string CounterRecord(const std::string& tag, const std::string& stamp, int32_t count);
// tag ("bp", "hm") + stamp + hundredths in at least 4 digits (0..9999, clamped).
std::string AnalogRecord(const std::string& tag, const std::string& stamp, int hundredths);
// "wd" + stamp + 17 upper-case hex counts of at least 2 digits each.
std::string WindRecord(const std::string& stamp, const std::array<uint16_t, 17>& bins);
// "cm" + stamp + " By hand: " + text.
std::string HandCommentRecord(const std::string& stamp, const std::string& text);
// "cm" + stamp + "(machine generated) Cycles since start:" + count.
std::string CyclesCommentRecord(const std::string& stamp, int64_t count);
// The comment written after a line found cut short at the end of the data
// log (a crash or power loss mid-write); the replay reads the line above it
// as possibly incomplete.
inline constexpr const char* kCutShortText = "(machine generated) The line above was cut short when written.";
// "cm" + stamp + kCutShortText.
std::string CutShortCommentRecord(const std::string& stamp);
// "ss" + stamp + "- - System started, WX118 version: 1 Sept 10".
std::string StartRecord(const std::string& stamp);
// "wo" + stamp + "- - Wind Dir Offset:" + offset + ". Using lookup table:" + letter + ".".
std::string WindOffsetRecord(const std::string& stamp, int offset, int table);
// The two header lines of a new data log.
std::string HeaderTitleLine();
std::string HeaderCreatedLine(const std::string& stamp);

// Reading records back (the history replay, the export, the checks).
// The full length of a reading record of this tag, from the channel table:
// 19 counters and on/off, 14 pressure and humidity, 15 temperatures, 44 wind;
// 0 for every other tag (comments, start and offset records, headers).
size_t RecordLength(std::string_view tag);
// A whole-number field: an optional sign and decimal digits, nothing else;
// nullopt beyond 32 bits.
std::optional<int32_t> ReadWholeField(std::string_view field);
// A temperature field as TemperatureField writes it ("+2150" is 21.50): the
// point goes between its third and fourth character.
std::optional<float> ReadTemperatureField(std::string_view field);
// The 17 bins of a whole "wd" record (44 characters); nullopt otherwise.
std::optional<std::array<uint16_t, 17>> ReadWindBins(std::string_view line);

// Why a line is not a whole record, in the order the reader looks: the
// first that applies is given.
enum class RecordFault : uint8_t {
  None,
  NotARecord,  // no tag a record starts with: a fragment or foreign text
  CutShort,    // a reading shorter than the records of its tag
  TooLong,     // a reading longer than the records of its tag
  BadStamp,    // the stamp is not a real date and time
  BadValue,    // the value field is not what the writer puts there
};

// One data log line taken apart. Every field is read as far as the line
// allows, whatever the fault: the replay reads older lines at their fixed
// positions even when their length is wrong.
struct RecordLine {
  std::string_view tag;     // the first two characters (fewer in a fragment)
  int channel = -1;         // the channel of a reading's tag, -1 otherwise
  bool freeText = false;    // "cm", "ss" or "wo": text for the human reader
  std::string_view stamp;   // characters 3-10; empty in a shorter line
  std::optional<DateTime> time;  // the stamp decoded
  // The value field from character 11, as long as the tag's records have it
  // (or what is left of it): the count of counters and on/off channels, the
  // hundredths of pressure and humidity (a sign may make it negative), the
  // degrees of temperatures, the bins of a wind record of its full length.
  std::string_view field;
  std::optional<int32_t> count;
  std::optional<float> celsius;
  std::optional<std::array<uint16_t, 17>> bins;
  // Free text: what follows the stamp, or the tag when there is no stamp.
  std::string_view text;
  RecordFault fault = RecordFault::None;
};

// presentYear picks the century of the stamp's two-digit year (StampFullYear).
// The last stamp read and what it gave. Consecutive records share their
// stamp, so a reader going through a log passes one to skip decoding it
// again (with the same presentYear each time).
struct StampMemo {
  char stamp[8] = {};
  bool known = false;
  std::optional<DateTime> time;
};
RecordLine ReadRecordLine(std::string_view line, int presentYear = SystemYear(), StampMemo* memo = nullptr);

}  // namespace wx
