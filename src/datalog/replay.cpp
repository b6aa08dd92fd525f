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

#include "datalog/records.h"
#include "datalog/stamps.h"

namespace wx {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kWindLength = 44;
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

bool HistoryReplay::TakeStamp(std::string_view line) {
  if (line.size() < kStampEnd) {
    if (NewestLine()) {
      Skip("cut short (power lost while it was written?)", line);
    } else {
      BadRecord("PGDTtoVars was called with length not 10, which is not allowed. Press a key to quit.", line);
    }
    return false;
  }
  const std::optional<DateTime> t = StampToDateTime(line.substr(2, 10));
  if (!t) {
    Skip("its date/time stamp is not a real date and time", line);
    return false;
  }
  recordTime_ = *t;
  return true;
}

void HistoryReplay::RainBarStep(int column, int32_t value) {
  switch (((column % 4) + 4) % 4) {
    case 1:
      rainBarDrawn = false;
      break;
    case 2:
      if (!rainBarDrawn) {
        // With no newer count yet (sentinel) there is no increase to show.
        if (chart_.lastRainCount != kNoCount) {
          const int64_t height = static_cast<int64_t>(chart_.lastRainCount) - value;
          if (height > 0)
            chart_.DrawBar(settings_.plot.channelColour[5], column, static_cast<int>(std::min<int64_t>(height, kGraphHeight)));
        }
        rainBarDrawn = true;
        chart_.lastRainCount = value;
      }
      break;
    case 3:
      if (chart_.lastRainCount == kNoCount) chart_.lastRainCount = value;
      break;
    default:
      break;
  }
}

void HistoryReplay::LightningBarStep(int column, int32_t value) {
  switch (((column % 4) + 4) % 4) {
    case 0:
      lightningBarDrawn = false;
      break;
    case 1:
      if (!lightningBarDrawn) {
        if (chart_.lastLightningCount != kNoCount) {
          const int64_t height = static_cast<int64_t>(chart_.lastLightningCount) - value;
          if (height > 0)
            chart_.DrawBar(settings_.plot.channelColour[7], column, static_cast<int>(std::min<int64_t>(height, kGraphHeight)));
        }
        lightningBarDrawn = true;
        chart_.lastLightningCount = value;
      }
      break;
    case 2:
      if (chart_.lastLightningCount == kNoCount) chart_.lastLightningCount = value;
      break;
    default:
      break;
  }
}

void HistoryReplay::WindSpeedBarStep(int column, int32_t value) {
  switch (((column % 4) + 4) % 4) {
    case 1:
      chart_.lastWindSpeedCount = value;
      break;
    case 0:
      if (chart_.lastWindSpeedCount != kNoCount) {
        const int64_t divisor = settings_.windSpeedBarDivisor > 0 ? settings_.windSpeedBarDivisor : 1;
        const int64_t height = (static_cast<int64_t>(chart_.lastWindSpeedCount) - value) / divisor;
        if (height > 0)
          chart_.DrawBar(settings_.plot.channelColour[6], column, static_cast<int>(std::min<int64_t>(height, kGraphHeight)));
      }
      break;
    default:
      break;
  }
}

void HistoryReplay::CounterRecord(std::string_view line, Kind kind) {
  if (!TakeStamp(line)) return;
  const std::optional<int32_t> value = ReadWholeField(Field(line, 11, 9));
  if (!value || *value < 0) {
    static const char* const kMessages[] = {
        "Problem with val call, old rainfall datum. Datum skipped over.",
        "Problem with Val call, old lightning datum. Datum skipped over.",
        "Problem with val call, old windspeed datum. Datum skipped over."};
    errors_.ShowError(kMessages[static_cast<int>(kind)] + Where(line));
    return;
  }
  const int column = chart_.TimeToColumn(recordTime_);
  currentColumn_ = column;
  int channel = 5;
  switch (kind) {
    case Kind::Rain:
      if (settings_.plot.barGraphOn[5]) RainBarStep(column, *value);
      channel = 5;
      break;
    case Kind::Lightning:
      if (settings_.plot.barGraphOn[7]) LightningBarStep(column, *value);
      channel = 7;
      break;
    case Kind::WindSpeed:
      if (settings_.plot.barGraphOn[6]) WindSpeedBarStep(column, *value);
      channel = 6;
      break;
  }
  chart_.SetPixel(column, chart_.CounterRow(*value, channel), settings_.plot.channelColour[channel]);
}

void HistoryReplay::OnOffRecord(std::string_view line) {
  const int n = line[1] == '1' ? 1 : 2;
  const int ch = 10 + n;
  if (!TakeStamp(line)) return;
  const std::optional<int32_t> count = ReadWholeField(Field(line, 11, 9));
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

void HistoryReplay::AnalogRecord(std::string_view line, int channel) {
  if (!TakeStamp(line)) return;
  const std::optional<int32_t> value = ReadWholeField(Field(line, 11, 4));
  if (!value) {
    const std::string message = channel == 8 ? "Problem with val call, old pressure datum. Prgm will close."
                                             : "Problem with val call, 30Aug03a. Prgm will close.";
    BadRecord(message + std::string(Field(line, 3, 10)), line);
    return;
  }
  chart_.SetPixel(chart_.TimeToColumn(recordTime_), chart_.AnalogRow(channel, *value),
                  settings_.plot.channelColour[channel]);
}

void HistoryReplay::WindRecord(std::string_view line) {
  if (line.size() != kWindLength) {
    ui_.ShowMessage(std::string(line.substr(0, 9)) + " Length was: " + std::to_string(line.size()));
    return;
  }
  if (!TakeStamp(line)) return;
  const auto bins = ReadWindBins(line);
  if (!bins) {
    BadRecord("Problem with val call, 10Aug03a. Prgm will close." + std::string(Field(line, 3, 10)), line);
    return;
  }
  channels_.WindHistogram = *bins;
  if (windSummary_) windSummary_(chart_.TimeToColumn(recordTime_));
  numeric_.laWDa.text = "XXX";
}

void HistoryReplay::TemperatureRecord(std::string_view line, int channel) {
  if (!TakeStamp(line)) return;
  const std::optional<float> value = ReadTemperatureField(Field(line, 11, 5));
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
  if (line.size() < 2) return;
  const std::string_view tag = line.substr(0, 2);
  const size_t kindLength = RecordLength(tag);
  // The writer's note that the line above (the next one back) was cut short.
  if (tag == "cm" && line.size() > 10 && line.substr(10) == kCutShortText) cutShortLine_ = lineNumber_ + 1;
  if (kindLength == 0) return;  // comments, start records, headers, fragments

  if (NewestLine()) {
    // The newest line may have been cut short by a power loss mid-write.
    const bool shortWind = tag == "wd" && line.size() < kWindLength;
    if (line.size() < kindLength || shortWind) {
      Skip("cut short (power lost while it was written?)", line);
      return;
    }
  }

  if (tag == "rf") {
    CounterRecord(line, Kind::Rain);
  } else if (tag == "lt") {
    CounterRecord(line, Kind::Lightning);
  } else if (tag == "ws") {
    CounterRecord(line, Kind::WindSpeed);
  } else if (tag == "b1" || tag == "b2") {
    OnOffRecord(line);
  } else if (tag == "bp") {
    AnalogRecord(line, 8);
  } else if (tag == "hm") {
    AnalogRecord(line, 9);
  } else if (tag == "wd") {
    WindRecord(line);
  } else {
    TemperatureRecord(line, tag[1] - '0');
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
