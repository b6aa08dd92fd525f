// SPDX-License-Identifier: GPL-2.0-or-later
// The data log out, for spreadsheets and other programs: every record as a
// CSV row or a JSON line with its local time in ISO 8601, the raw value as
// logged and, where [Units] configures one, the physical value. The log is
// streamed: memory does not grow with its size.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/units.h"
#include "datalog/records.h"
#include "datalog/stamps.h"
#include "weather/weather_values.h"

namespace wx {

struct RecordLine;

struct ExportOptions {
  enum class Format { Csv, Jsonl };
  Format format = Format::Csv;
  // Inclusive dates as yyyymmdd; rows without a readable time (the log's
  // header lines) are left out when either is set.
  std::optional<int> fromDate, toDate;
  std::array<bool, 13> channels{true, true, true, true, true, true, true,
                                true, true, true, true, true, true};
  bool comments = true;
  UnitsConfig units;
  uint8_t windOffset = 9;  // until a "wo" record in the log says otherwise
  int presentYear = SystemYear();  // picks the centuries of the stamps
  // --derived: after each day, the day's rain and the highs and lows of its
  // temperatures, humidity and pressure as rows of their own (tag "dv").
  bool derived = false;
  StationSettings station;  // [Station], for the humidity and the pressure
  // Off: every line goes through the general record reader, as the tests
  // compare the quick reading of whole records against it.
  bool quickReadings = true;
};

// Parses "--from", "--to", "--channels" and "--format" values into options.
// A date is YYYY-MM-DD; channels are names ("T0", "rain", ...), log tags
// ("t0", "rf", ...), numbers 0..12 or "comments", separated by commas.
std::optional<int> ParseExportDate(std::string_view text);
bool ParseExportChannels(std::string_view list, ExportOptions& options, std::string& error);

// The UTC offsets of a local hour, in seconds. Where a change to winter time
// repeats the hour they differ: its first pass has the larger one.
struct HourOffsets {
  long first = 0, second = 0;
};

class LogExporter {
 public:
  // write receives the output in large pieces; problem one message per
  // skipped line ("line 12: ...").
  using Sink = std::function<void(std::string_view)>;
  LogExporter(ExportOptions options, Sink write, Sink problem);
  ~LogExporter();

  // Feeds the next bytes of the log; lines may be split anywhere.
  void Feed(std::string_view bytes);
  // Ends the input: a last line without a line end is read, output flushed.
  void Finish();

  int64_t linesRead() const { return lineNumber_; }
  int64_t rowsWritten() const { return rows_; }
  int64_t linesSkipped() const { return skipped_; }

  // A line longer than this cannot be a record; it is reported and skipped
  // without being held.
  static constexpr size_t kMaxLine = 4096;

 private:
  void Line(std::string_view line);
  void Skip(std::string_view why, std::string_view line);
  // The time texts of the real stamp at line[2..10), kept while it repeats.
  void TakeTime(std::string_view line);
  bool InRange() const { return inRange_; }
  void Header();
  // A comment's row up to its text.
  void BeginRow(std::string_view tag, bool timed);
  // A whole reading whose stamp is in the hour of the last one read, written
  // straight from its text; false when the line needs the general reader.
  bool QuickReading(std::string_view line);
  // A reading's row up to its raw value: time, tag, channel and the key.
  void ReadingHead(int channel);
  // After the raw value: the physical value where [Units] gives one, the end.
  void ValueAndEnd(int channel, double raw);
  // After the raw value of a wind record: direction, bins, the end.
  void WindRest(const std::array<uint16_t, 17>& bins, uint8_t mostFrequent);
  void Number(double v, int decimals);
  void Integer(int64_t v);
  void Raw(double raw, int channel);
  void Text(std::string_view text);
  void Unit(int channel, const std::string& unit);
  void Key(std::string_view key);
  void EndRow(int columnsWritten);
  void FlushIfFull();
  // Appends to the output; called many times per row, so kept inline.
  void Put(char c) {
    if (used_ == out_.size()) Grow(1);
    out_[used_++] = c;
  }
  void Put(std::string_view s) {
    if (s.empty()) return;  // an empty view may carry a null pointer, which memcpy must not get
    if (out_.size() - used_ < s.size()) Grow(s.size());
    std::memcpy(out_.data() + used_, s.data(), s.size());
    used_ += s.size();
  }
  void Grow(size_t more);
  // Room for n more bytes; the pointer to write them at.
  char* Room(size_t n) {
    if (out_.size() - used_ < n) Grow(n);
    return out_.data() + used_;
  }
  // --derived: a reading for the day's values; the rows of a day that ended.
  void Derive(const RecordLine& record);
  void DerivedRows();
  void DerivedRow(std::string_view name, const std::optional<TimedValue>& v, int decimals, std::string_view unit);
  struct Derived;
  std::unique_ptr<Derived> derived_;

  ExportOptions options_;
  Sink write_, problem_;
  std::vector<char> out_;  // the output not yet written, out_[0, used_)
  size_t used_ = 0;
  std::string carry_;
  bool overlong_ = false;  // inside a line past kMaxLine
  bool headerDone_ = false;
  int64_t lineNumber_ = 0, rows_ = 0, skipped_ = 0;
  // The last stamp seen and what it gave, as consecutive records share one.
  StampMemo stampMemo_;
  char lastStamp_[8] = {};
  bool lastStampValid_ = false;
  char iso_[32] = {};
  size_t isoLength_ = 0;
  int date_ = 0;  // yyyymmdd of the current stamp
  bool inRange_ = false;  // date_ within --from and --to
  // The offsets of the current stamp's hour, and whether its records have
  // reached the second pass of a repeated hour.
  HourOffsets offsets_;
  // The day whose offset holds from its first hour to the next day's
  // (no change of clocks in it), as year * 10000 + month * 100 + day; 0 none.
  int steadyDay_ = 0;
  int checkedDay_ = 0;
  long steadyOffset_ = 0;
  bool secondPass_ = false;
  // Each channel's unit as last written, and its escaped text.
  struct UnitText {
    bool known = false;
    std::string unit, text;
  };
  std::array<UnitText, 13> units_;
  // Each channel's row text between the time and the raw value, and what
  // ends a row that has no physical value; padded, so that they are copied
  // in pieces of one fixed size.
  struct Padded {
    char text[64] = {};
    size_t size = 0;
  };
  std::array<Padded, 13> heads_;
  Padded plainEnd_;
};

// `wx118 export [LOG] [options]`: writes to standard output (or --output),
// problems to standard error. Returns the exit status.
int RunExportCommand(const std::vector<std::string>& args);
std::string ExportUsageText();

}  // namespace wx
