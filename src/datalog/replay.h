// SPDX-License-Identifier: GPL-2.0-or-later
// History replay at start-up: the data log is read backwards, newest record
// first, and every old record is drawn at the column its stamp belongs to,
// until the chart is full, the first line is reached or the byte bound is used.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "datalog/data_log.h"
#include "datalog/records.h"
#include "datalog/stamps.h"
#include "graph/strip_chart.h"
#include "channels/channel_state.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "platform/views.h"

namespace wx {

// No more than this many bytes, counted from the end of the file, are replayed.
constexpr int64_t kReplayByteBound = 800000;
// The record time of a line that carried no readable stamp.
constexpr DateTime kNoRecordTime = 999999.0;

class HistoryReplay {
 public:
  using WindSummary = std::function<void(int column)>;

  HistoryReplay(StripChart& chart, const Settings& settings, ChannelState& channels, DataLog& dataLog,
                NumericView& numeric, WindSummary windSummary, ErrorSink& errors, Ui& ui,
                const PathMapper& paths, const Clock& clock);

  void ReplayDataLog();
  // Dispatches one line (no line end). The newest line of the file is allowed
  // to be torn: a record cut short there is reported and skipped.
  void ReplayRecord(std::string_view line);
  // Closes the reader (the quit path calls this while ReplayReaderOpen is set).
  void CloseReader();

  bool ReplayReaderOpen = false;

  // Exposed for the start-up sequence and the tests.
  bool stopFlag() const { return stop_; }
  // An unreadable older record ended the replay: nothing older was drawn.
  bool stoppedAtBadRecord() const { return stoppedAtBadRecord_; }
  int64_t bytesConsumed() const { return consumed_; }
  int linesDispatched() const { return lineNumber_; }
  int currentColumn() const { return currentColumn_; }
  // Records stamped later than the clock (read in the last replay).
  int recordsAhead() const { return recordsAhead_; }
  bool rainBarDrawn = false;
  bool lightningBarDrawn = false;

 private:
  void CounterRecord(std::string_view line, const RecordLine& record);
  void OnOffRecord(std::string_view line, const RecordLine& record);
  void AnalogRecord(std::string_view line, const RecordLine& record);
  void WindRecord(std::string_view line, const RecordLine& record);
  void TemperatureRecord(std::string_view line, const RecordLine& record);

 public:
  // How the records of one counter draw their bars (defined with the replay).
  struct CounterRule;

 private:
  void BarStep(const CounterRule& rule, int column, int32_t value);

  // Reads the stamp at characters 3-12; false when the line was dealt with
  // (too short: the replay stops; unreadable stamp: reported and skipped).
  bool TakeStamp(std::string_view line, const RecordLine& record);
  // An unreadable older record: its message naming the file and the line,
  // and the replay stops there. One old byte must not cost every future
  // reading, so the start-up and the cycle go on.
  void BadRecord(const std::string& message, std::string_view line);
  // A torn newest line or an unreadable stamp: reported, skipped.
  void Skip(const std::string& why, std::string_view line);
  std::string Where(std::string_view line) const;
  // The newest line, and one the writer marked as cut short, may be torn.
  bool NewestLine() const { return lineNumber_ == 1 || lineNumber_ == cutShortLine_; }

  StripChart& chart_;
  const Settings& settings_;
  ChannelState& channels_;
  DataLog& dataLog_;
  NumericView& numeric_;
  WindSummary windSummary_;
  ErrorSink& errors_;
  Ui& ui_;
  const PathMapper& paths_;
  const Clock& clock_;

  int fd_ = -1;
  bool stop_ = false;
  bool stoppedAtBadRecord_ = false;
  DateTime recordTime_ = kNoRecordTime;
  int currentColumn_ = 0;
  int64_t consumed_ = 0;
  int lineNumber_ = 0;  // of the line being dispatched, 1 = newest
  int cutShortLine_ = -1;
  int recordsAhead_ = 0;
  DateTime newestAhead_ = 0;
  // The clock's year, by which the stamps' centuries are read.
  int presentYear_ = SystemYear();
};

}  // namespace wx
