// SPDX-License-Identifier: GPL-2.0-or-later
#include "datalog/replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "channels/channel_table.h"
#include "datalog/records.h"
#include "datalog/stamps.h"

namespace wx {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kWindLength = Channel(10).recordLength;
constexpr size_t kStampEnd = 12;  // tag + 10 characters handed to the stamp decoder

// Characters from 1-based position pos, at most count of them, like Copy().
std::string_view Field(std::string_view s, size_t pos, size_t count) {
  if (s.size() < pos) return {};
  return s.substr(pos - 1, count);
}

std::string Quoted(std::string_view line) {
  constexpr size_t kShown = 80;
  std::string s(line.substr(0, kShown));
  if (line.size() > kShown) s += "...";
  return "\"" + s + "\"";
}

}  // namespace

HistoryReplay::HistoryReplay(StripChart& chart, const Settings& settings, ChannelState& channels,
                             DataLog& dataLog, NumericView& numeric, WindSummary windSummary,
                             ErrorSink& errors, Ui& ui, const PathMapper& paths, const Clock& clock)
    : chart_(chart),
      settings_(settings),
      channels_(channels),
      dataLog_(dataLog),
      numeric_(numeric),
      windSummary_(std::move(windSummary)),
      errors_(errors),
      ui_(ui),
      paths_(paths),
      clock_(clock) {}

void HistoryReplay::CloseReader() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ReplayReaderOpen = false;
}

std::string HistoryReplay::Where(std::string_view line) const {
  return " (data log " + paths_.Shown(settings_.files.dataLogPath, false) + ", line " + std::to_string(lineNumber_) +
         " from the end: " + Quoted(line) + ")";
}

void HistoryReplay::BadRecord(const std::string& message, std::string_view line) {
  if (NewestLine()) {
    // A garbled newest line is most likely a write cut short, not a bad history.
    Skip("cut short or garbled (power lost while it was written?): " + message, line);
    return;
  }
  ui_.ShowMessage(message + Where(line) +
                 " The monitor goes on: the chart shows only what is newer than that line.");
  stop_ = true;
  stoppedAtBadRecord_ = true;
}

void HistoryReplay::Skip(const std::string& why, std::string_view line) {
  errors_.ShowError("Old data log line skipped, " + why + Where(line));
}

bool HistoryReplay::TakeStamp(std::string_view line, const RecordLine& record) {
  if (line.size() < kStampEnd) {
    if (NewestLine()) {
      Skip("cut short (power lost while it was written?)", line);
    } else {
      BadRecord("PGDTtoVars was called with length not 10, which is not allowed. Press a key to quit.", line);
    }
    return false;
  }
  if (!record.time) {
    Skip("its date/time stamp is not a real date and time", line);
    return false;
  }
  recordTime_ = *record.time;
  return true;
}

// A counter's history bar, as data. The columns go in groups of four (the
// phase is the column mod 4); records arrive newest first, so the kept count
// is that of the newer group and the difference is the increase over a group.
enum class BarAction : uint8_t {
  None,
  Rearm,      // a new group: its bar is not drawn yet
  DrawOnce,   // the group's one bar, against the newer count, which it then takes
  Prime,      // a first count when there is none yet
  Take,       // the kept count, whatever it was
  DrawEvery,  // a bar for each record, the kept count left as it is
};

struct HistoryReplay::CounterRule {
  int channel;
  const char* badValue;  // reported, and the record skipped
  int32_t StripChart::*last;
  bool HistoryReplay::*drawn;  // only the rules with DrawOnce have one
  std::array<BarAction, 4> byPhase;
  bool divided;  // heights by the wind-speed bar divisor
};

namespace {
using A = BarAction;
const HistoryReplay::CounterRule kCounterRules[] = {
    {5, "Problem with val call, old rainfall datum. Datum skipped over.", &StripChart::lastRainCount,
     &HistoryReplay::rainBarDrawn, {A::None, A::Rearm, A::DrawOnce, A::Prime}, false},
    {6, "Problem with val call, old windspeed datum. Datum skipped over.", &StripChart::lastWindSpeedCount,
     nullptr, {A::DrawEvery, A::Take, A::None, A::None}, true},
    {7, "Problem with Val call, old lightning datum. Datum skipped over.", &StripChart::lastLightningCount,
     &HistoryReplay::lightningBarDrawn, {A::Rearm, A::DrawOnce, A::Prime, A::None}, false},
};
}  // namespace

void HistoryReplay::BarStep(const CounterRule& rule, int column, int32_t value) {
  int32_t& last = chart_.*rule.last;
  auto draw = [&] {
    // With no newer count yet (sentinel) there is no increase to show.
    if (last == kNoCount) return;
    const int64_t divisor = !rule.divided ? 1 : settings_.windSpeedBarDivisor > 0 ? settings_.windSpeedBarDivisor : 1;
    const int64_t height = (static_cast<int64_t>(last) - value) / divisor;
    if (height > 0)
      chart_.DrawBar(settings_.plot.channelColour[rule.channel], column,
                     static_cast<int>(std::min<int64_t>(height, kGraphHeight)));
  };
  switch (rule.byPhase[static_cast<size_t>(((column % 4) + 4) % 4)]) {
    case BarAction::None:
      break;
    case BarAction::Rearm:
      this->*rule.drawn = false;
      break;
    case BarAction::DrawOnce:
      if (!(this->*rule.drawn)) {
        draw();
        this->*rule.drawn = true;
        last = value;
      }
      break;
    case BarAction::Prime:
      if (last == kNoCount) last = value;
      break;
    case BarAction::Take:
      last = value;
      break;
    case BarAction::DrawEvery:
      draw();
      break;
  }
}

void HistoryReplay::CounterRecord(std::string_view line, const RecordLine& record) {
  const CounterRule* rule = nullptr;
  for (const CounterRule& r : kCounterRules)
    if (r.channel == record.channel) rule = &r;
  if (!rule || !TakeStamp(line, record)) return;
  if (!record.count || *record.count < 0) {
    errors_.ShowError(rule->badValue + Where(line));
    return;
  }
  const int column = chart_.TimeToColumn(recordTime_);
  currentColumn_ = column;
  if (settings_.plot.barGraphOn[rule->channel]) BarStep(*rule, column, *record.count);
  chart_.SetPixel(column, chart_.CounterRow(*record.count, rule->channel), settings_.plot.channelColour[rule->channel]);
}

void HistoryReplay::OnOffRecord(std::string_view line, const RecordLine& record) {
  const int ch = record.channel;
  const int n = ch - 10;
  if (!TakeStamp(line, record)) return;
  const std::optional<int32_t> count = record.count;
  if (!count) {
    BadRecord("Problem with val call, old on/off datum. Prgm will close. " + std::string(Field(line, 3, 10)), line);
    return;
  }
  const int column = chart_.TimeToColumn(recordTime_);
  currentColumn_ = column;
  channels_.CountLatest[ch] = *count;
  const bool level = *count != channels_.CountLastLogged[ch];
  const bool noTransition = level == channels_.OnOffChanged[n];
  if (channels_.OnOffHasPrevious[n]) chart_.PlotOnOff(n, noTransition, level ? 1 : 0, *count, column);
  channels_.OnOffHasPrevious[n] = true;
  channels_.CountLastLogged[ch] = *count;
  channels_.OnOffChanged[n] = level;
}

void HistoryReplay::AnalogRecord(std::string_view line, const RecordLine& record) {
  const int channel = record.channel;
  if (!TakeStamp(line, record)) return;
  const std::optional<int32_t> value = record.count;
  if (!value) {
    const std::string message = channel == 8 ? "Problem with val call, old pressure datum. Prgm will close."
                                             : "Problem with val call, 30Aug03a. Prgm will close.";
    BadRecord(message + std::string(Field(line, 3, 10)), line);
    return;
  }
  chart_.SetPixel(chart_.TimeToColumn(recordTime_), chart_.AnalogRow(channel, *value),
                  settings_.plot.channelColour[channel]);
}

void HistoryReplay::WindRecord(std::string_view line, const RecordLine& record) {
  if (line.size() != kWindLength) {
    ui_.ShowMessage(std::string(line.substr(0, 9)) + " Length was: " + std::to_string(line.size()));
    return;
  }
  if (!TakeStamp(line, record)) return;
  const auto& bins = record.bins;
  if (!bins) {
    BadRecord("Problem with val call, 10Aug03a. Prgm will close." + std::string(Field(line, 3, 10)), line);
    return;
  }
  channels_.WindHistogram = *bins;
  if (windSummary_) windSummary_(chart_.TimeToColumn(recordTime_));
  numeric_.laWDa.text = "XXX";
}

void HistoryReplay::TemperatureRecord(std::string_view line, const RecordLine& record) {
  const int channel = record.channel;
  if (!TakeStamp(line, record)) return;
  const std::optional<float> value = record.celsius;
  if (!value) {
    static const char* const kMessages[] = {
        "Err 15Jun03c.. and Shutdown prep needs improving.", "Err 15Jun03c.. and Shutdown prep needs improving.",
        "Err 15Jun03ca.. and Shutdown prep needs improving.", "Err 15Jun03cb.. and Shutdown prep needs improving.",
        "Err 15Jun03cc.. and Shutdown prep needs improving."};
    BadRecord(kMessages[channel] + std::string(Field(line, 3, 10)), line);
    return;
  }
  chart_.SetPixel(chart_.TimeToColumn(recordTime_), chart_.TtureRow(channel, *value),
                  settings_.plot.channelColour[channel]);
}

void HistoryReplay::ReplayRecord(std::string_view line) {
  recordTime_ = kNoRecordTime;
  const RecordLine record = ReadRecordLine(line, presentYear_);
  // The writer's note that the line above (the next one back) was cut short.
  if (record.tag == "cm" && line.size() > 10 && line.substr(10) == kCutShortText) cutShortLine_ = lineNumber_ + 1;
  if (record.channel < 0) return;  // comments, start records, headers, fragments

  // The newest line may have been cut short by a power loss mid-write.
  if (NewestLine() && record.fault == RecordFault::CutShort) {
    Skip("cut short (power lost while it was written?)", line);
    return;
  }

  switch (Channel(record.channel).kind) {
    case ChannelKind::Counter:
      CounterRecord(line, record);
      break;
    case ChannelKind::OnOff:
      OnOffRecord(line, record);
      break;
    case ChannelKind::Analog:
      AnalogRecord(line, record);
      break;
    case ChannelKind::WindDirection:
      WindRecord(line, record);
      break;
    case ChannelKind::Temperature:
      TemperatureRecord(line, record);
      break;
  }
  if (stoppedAtBadRecord_) return;

  // Stamps keep whole minutes, cut down: only a clock that was ahead (or
  // has been set back) writes one later than now.
  if (recordTime_ < kNoRecordTime && recordTime_ > chart_.referenceTime + 1.0 / 1440) {
    ++recordsAhead_;
    newestAhead_ = std::max(newestAhead_, recordTime_);
  }
  if (recordTime_ < kNoRecordTime && chart_.TimeToColumn(recordTime_) == 0) stop_ = true;
  if (recordTime_ < chart_.dayMark) {
    chart_.DrawDayMark(chart_.dayMark);
    chart_.dayMark = DatePart(recordTime_);
  }
}

void HistoryReplay::ReplayDataLog() {
  stop_ = false;
  stoppedAtBadRecord_ = false;
  recordsAhead_ = 0;
  newestAhead_ = 0;
  consumed_ = 0;
  lineNumber_ = 0;
  cutShortLine_ = -1;
  chart_.referenceTime = clock_.Now();
  presentYear_ = DecodeDateTime(chart_.referenceTime).year;
  const DateTime today = DatePart(chart_.referenceTime);
  chart_.dayMark = today;

  if (dataLog_.LogDataToFile) dataLog_.Close();

  const std::filesystem::path path = paths_.Map(settings_.files.dataLogPath);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return;

  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    CloseReader();
    ui_.ShowMessage("Unable to open Data Log file to read old data. Reason not clear.... file existed a moment ago!");
    return;
  }
  ReplayReaderOpen = true;

  // Blocks are read from the end; `carry` holds the start of the block, a
  // line whose beginning lies further back in the file.
  off_t offset = st.st_size;
  std::string carry;
  std::vector<char> block(kBlockSize);
  bool done = false;

  auto dispatch = [&](std::string_view line, size_t bytes) {
    consumed_ += static_cast<int64_t>(bytes);
    if (!line.empty()) {
      ++lineNumber_;
      ReplayRecord(line);
    }
    if (stop_ || consumed_ > kReplayByteBound) done = true;
  };

  while (!done) {
    if (offset == 0) {
      if (!carry.empty()) dispatch(carry, carry.size());  // the first line of the file
      break;
    }
    const size_t n = static_cast<size_t>(std::min<off_t>(offset, static_cast<off_t>(kBlockSize)));
    offset -= static_cast<off_t>(n);
    ssize_t got = 0;
    while (static_cast<size_t>(got) < n) {
      const ssize_t r = ::pread(fd_, block.data() + got, n - got, offset + got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += r;
    }
    if (static_cast<size_t>(got) != n) {
      errors_.ShowError("Reading the data log " + paths_.Shown(settings_.files.dataLogPath, false) +
                        " for the chart history failed; the history shown stops there.");
      break;
    }
    std::string data(block.data(), n);
    data += carry;
    carry.clear();
    size_t end = data.size();
    for (size_t i = data.size(); i > 0 && !done; --i) {
      const char c = data[i - 1];
      if (c != '\r' && c != '\n') continue;
      dispatch(std::string_view(data).substr(i, end - i), end - i + 1);
      end = i - 1;
    }
    if (done) break;
    carry.assign(data, 0, end);
    // A "line" longer than the whole bound cannot be a record; stop rather
    // than hold an unbounded amount of it.
    if (static_cast<int64_t>(carry.size()) + consumed_ > kReplayByteBound + static_cast<int64_t>(kBlockSize)) break;
  }

  CloseReader();
  if (recordsAhead_ > 0) {
    errors_.ShowError("The data log " + paths_.Shown(settings_.files.dataLogPath, false) + " holds " + std::to_string(recordsAhead_) +
                      " record(s) newer than this machine's clock (now " + DateTimeText(chart_.referenceTime, false) +
                      ", the newest " + DateTimeText(newestAhead_, false) +
                      "). The chart leaves them out until the clock passes them; new readings are logged "
                      "after them. Check the clock: a board without a real-time clock that started before "
                      "network time, or a --speed run on this log, writes records ahead of it.");
  }
  channels_.OnOffHasPrevious[1] = false;
  channels_.OnOffHasPrevious[2] = false;
  // The level left here is that of the oldest replayed record. The first live
  // sample only takes a previous count, so the second would otherwise draw a
  // transition step against that old level although nothing changed.
  channels_.OnOffChanged[1] = false;
  channels_.OnOffChanged[2] = false;
  // Every midnight the history crossed is drawn now. Left at the oldest one,
  // the day mark would have the next scrolls redraw each of them again, one
  // column to the right of the replayed mark (the reference time having
  // moved on), painting over a column of history per day.
  chart_.dayMark = today;
}

}  // namespace wx
