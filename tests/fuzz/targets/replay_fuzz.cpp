// SPDX-License-Identifier: GPL-2.0-or-later
// The history replay and the stamp decoder under it. Input: one mode byte,
// seven bytes of plot settings, then the data log text.
//  - line mode: every line goes through ReplayRecord, newest first; a record
//    may draw only in the column of its own stamp (and the midnight mark the
//    replay is due to draw), never anywhere else;
//  - file mode: the text is a data log file read by ReplayDataLog, which must
//    leave the file as it was, close it and stay within its byte bound.
#include <cstring>

#include "datalog/data_log.h"
#include "datalog/records.h"
#include "datalog/replay.h"
#include "datalog/stamps.h"
#include "fuzz/fuzz_support.h"
#include "platform/profile.h"

namespace wx::fuzz {
namespace {

constexpr size_t kPrefix = 8;

void ApplyPlotBytes(const uint8_t* b, Settings& s) {
  // Extreme scales and offsets are where the row mapping can go wrong.
  static const uint16_t kScales[8] = {0, 1, 10, 3000, 10000, 20000, 40000, 65535};
  for (int ch = 0; ch < kChannels; ++ch) {
    const uint8_t v = b[ch % 7];
    s.plot.plotMultiplier[ch] = kScales[(v + ch) & 7];
    s.plot.plotOffset[ch] = static_cast<uint16_t>(((v >> 3) & 7) * 9362);
    s.plot.barGraphOn[ch] = (v >> 6) & 1;
    s.plot.channelColour[ch] = 0x010203u * static_cast<uint32_t>(ch + 1);
  }
  // Zero is refused at load for these; the chart never meets it.
  for (int ch : {0, 1, 2, 3, 4, 11, 12})
    if (s.plot.plotMultiplier[ch] == 0) s.plot.plotMultiplier[ch] = 10000;
  s.plot.variousOne1[11] = b[5] & 3;
  s.plot.variousOne1[12] = (b[5] >> 2) & 3;
  s.windSpeedBarDivisor = (b[6] & 1) ? 1 : 150;
}

std::optional<DateTime> StampOf(std::string_view line) {
  if (line.size() < 12) return std::nullopt;
  return ReadRecordLine(line).time;
}

void CheckStamp(std::string_view line, Findings& f) {
  if (line.size() < 12) return;
  const std::string_view ten = line.substr(2, 10);
  const auto fields = PGDTtoVars(ten);
  f.Check(fields.has_value(), "ten characters always decode to fields");
  const auto t = StampToDateTime(ten);
  if (!t) return;
  f.Check(Stamp(*t) == ten.substr(0, 8), "a readable stamp encodes back to itself");
  f.Check(fields && fields->month >= 1 && fields->month <= 12 && fields->hour <= 23 && fields->minute <= 59 &&
              fields->day >= 1 && fields->day <= 31,
          "a readable stamp has a real month and hour");
  (void)DateTimeText(*t, true);
}

struct Rig {
  Settings settings;
  ScriptedUi ui;
  RecordingErrors errors;
  FakeClock clock;
  PathMapper paths;
  MainView mainView;
  NumericView numeric;
  ChannelState channels;
  StripChart chart;
  DataLog dataLog;
  std::vector<int> windColumns;
  HistoryReplay replay;

  explicit Rig(const std::filesystem::path& root)
      : paths(root),
        chart(settings, ui),
        dataLog(settings.files, paths, clock, ui, errors, mainView),
        replay(chart, settings, channels, dataLog, numeric,
               [this](int column) {
                 windColumns.push_back(column);
                 chart.SetPixel(column, StripChart::WindDirRow(channels.WindHistogram[0] % 17), kWindDirColour);
               },
               errors, ui, paths, clock) {}
};

bool SameShape(const RgbImage& img) { return img.Width() == kGraphWidth && img.Height() == kGraphHeight; }

// The bitmap before a record, and the columns that differ from it after.
class Snapshot {
 public:
  // Into the same buffer each time: a new image per record would cost the
  // sanitizers' allocator more than the replay itself.
  void Take(const RgbImage& img) {
    pixels_.resize(static_cast<size_t>(kGraphWidth) * kGraphHeight);
    std::memcpy(pixels_.data(), img.Row(0), pixels_.size() * sizeof(uint32_t));
  }
  std::vector<int> ChangedColumns(const RgbImage& img) const {
    std::vector<bool> changed(kGraphWidth, false);
    for (int y = 0; y < kGraphHeight; ++y) {
      const uint32_t* now = img.Row(y);
      const uint32_t* was = &pixels_[static_cast<size_t>(y) * kGraphWidth];
      if (std::memcmp(now, was, kGraphWidth * sizeof(uint32_t)) == 0) continue;
      for (int x = 0; x < kGraphWidth; ++x)
        if (now[x] != was[x]) changed[x] = true;
    }
    std::vector<int> cols;
    for (int x = 0; x < kGraphWidth; ++x)
      if (changed[x]) cols.push_back(x);
    return cols;
  }

 private:
  std::vector<uint32_t> pixels_;
};

void LineMode(std::string_view text, Rig& rig, Findings& f) {
  HistoryReplay& replay = rig.replay;
  StripChart& chart = rig.chart;
  chart.referenceTime = rig.clock.Now();
  chart.dayMark = DatePart(chart.referenceTime);
  const std::vector<std::string> lines = SplitTextLines(text);
  Snapshot before;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const std::string& line = *it;
    CheckStamp(line, f);
    before.Take(chart.Bitmap());
    const DateTime dayMarkBefore = chart.dayMark;
    const auto histogramBefore = rig.channels.WindHistogram;
    rig.windColumns.clear();

    replay.ReplayRecord(line);

    f.Check(SameShape(chart.Bitmap()), "the chart stays 780 x 237");
    const auto t = StampOf(line);
    const int own = t ? chart.TimeToColumn(*t) : -1000;
    const int midnight = chart.TimeToColumn(dayMarkBefore) - 1;
    for (int col : before.ChangedColumns(chart.Bitmap()))
      f.Check(col == own || col == midnight, "a record draws only in its own column and the midnight mark");
    for (int col : rig.windColumns) f.Check(col == own, "the wind summary gets the record's column");
    if (line.rfind("wd", 0) != 0)
      f.Check(rig.channels.WindHistogram == histogramBefore, "only wd records change the wind histogram");
    f.Check(chart.dayMark <= dayMarkBefore, "the day mark only moves back");
    if (replay.stoppedAtBadRecord()) {
      f.Check(replay.stopFlag(), "a bad record ends the replay");
      break;
    }
    if (replay.stopFlag()) {
      f.Check(t && own == 0, "only a record in column 0 stops the replay");
      break;
    }
  }
}

void FileMode(std::string_view text, const TempDir& dir, Rig& rig, Findings& f) {
  const auto file = dir.Write("c/WX18DtLg.txt", text);
  rig.replay.ReplayDataLog();
  f.Check(!rig.replay.ReplayReaderOpen, "the reader is closed after the replay");
  f.Check(!rig.channels.OnOffHasPrevious[1] && !rig.channels.OnOffHasPrevious[2],
          "the live on/off traces start without a previous sample");
  f.Check(rig.replay.bytesConsumed() <= static_cast<int64_t>(text.size()), "no more bytes than the file holds");
  f.Check(rig.replay.bytesConsumed() <= kReplayByteBound + 70000, "the byte bound holds");
  f.Check(SameShape(rig.chart.Bitmap()), "the chart stays 780 x 237");
  f.Check(ReadFile(file) == text, "the replay never changes the log");
}

}  // namespace

std::string FuzzReplay(const uint8_t* data, size_t size) {
  Findings f;
  if (size < kPrefix) return {};
  const TempDir& dir = Scratch();
  if (!dir.ok()) return {};
  Rig rig(dir.path());
  ApplyDefaults(rig.settings);
  ApplyPlotBytes(data + 1, rig.settings);
  rig.chart.CreateBitmap();
  const std::string_view text = AsText(data + kPrefix, size - kPrefix);
  if (data[0] & 1)
    FileMode(text, dir, rig, f);
  else
    LineMode(text, rig, f);
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzReplay)
