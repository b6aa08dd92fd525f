// SPDX-License-Identifier: GPL-2.0-or-later
#include "datalog/replay.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datalog/records.h"
#include "datalog/stamps.h"
#include "support/fakes.h"

namespace wx {
namespace {

using ReplayUi = test::ScriptedUi;
using ReplayErrors = test::RecordingErrors;

constexpr DateTime kNow = 46363.5;  // 7 Dec 2026 12:00

class ReplayTest : public ::testing::Test {
 protected:
  ReplayTest()
      : dir(std::filesystem::temp_directory_path() /
            ("wx118_replay_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name())),
        paths(dir),
        clock(kNow) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ApplyDefaults(settings);
    settings.files.dataLogPath = (dir / "log.txt").string();
    chart = std::make_unique<StripChart>(settings, ui);
    chart->Bitmap().Fill(ToRgb32(kBackgroundColour));
    dataLog = std::make_unique<DataLog>(settings.files, paths, clock, ui, errors, mainView);
    replay = std::make_unique<HistoryReplay>(
        *chart, settings, channels, *dataLog, numeric, [this](int c) { windColumns.push_back(c); },
        errors, ui, paths, clock);
  }
  ~ReplayTest() override { std::filesystem::remove_all(dir); }

  // The time whose record lands in column col (stamps keep whole minutes).
  static DateTime AtColumn(int col) { return kNow - (780 - col) * 0.012 + 0.0001; }
  static std::string S(DateTime t) { return Stamp(t); }

  void Write(const std::string& text) {
    std::ofstream f(settings.files.dataLogPath, std::ios::binary);
    f << text;
  }
  void WriteLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    Write(text);
  }
  uint32_t At(int x, int y) const {
    const uint32_t c = chart->Bitmap().Pixel(x, y);
    return (c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16;
  }
  std::vector<int> RowsOf(int x, uint32_t colour, int from = 0) const {
    std::vector<int> rows;
    for (int y = from; y < kGraphHeight; ++y)
      if (At(x, y) == colour) rows.push_back(y);
    return rows;
  }
  bool ColumnHas(int x, uint32_t colour) const { return !RowsOf(x, colour).empty(); }

  std::filesystem::path dir;
  PathMapper paths;
  FakeClock clock;
  Settings settings;
  ReplayUi ui;
  ReplayErrors errors;
  MainView mainView;
  NumericView numeric;
  ChannelState channels;
  std::unique_ptr<StripChart> chart;
  std::unique_ptr<DataLog> dataLog;
  std::unique_ptr<HistoryReplay> replay;
  std::vector<int> windColumns;
};

TEST_F(ReplayTest, RecordsLandWhereTheLivePlotPutsThem) {
  settings.plot.plotOffset[5] = 7;
  settings.plot.plotMultiplier[8] = 3000;
  WriteLines({HeaderTitleLine(), HeaderCreatedLine(S(AtColumn(700))),
              TemperatureRecord(2, S(AtColumn(770)), -3.25f), CounterRecord("rf", S(AtColumn(771)), 1234),
              AnalogRecord("bp", S(AtColumn(772)), 295), AnalogRecord("hm", S(AtColumn(773)), 640),
              CounterRecord("lt", S(AtColumn(774)), 42), CounterRecord("ws", S(AtColumn(775)), 99999)});
  replay->ReplayDataLog();
  EXPECT_FALSE(replay->stoppedAtBadRecord());
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(errors.errors.empty());
  EXPECT_FALSE(replay->ReplayReaderOpen);
  const auto& col = settings.plot.channelColour;
  EXPECT_EQ(RowsOf(770, col[2]), std::vector<int>{chart->TtureRow(2, -3.25f)});
  EXPECT_EQ(RowsOf(771, col[5]), std::vector<int>{chart->CounterRow(1234, 5)});
  EXPECT_EQ(RowsOf(772, col[8]), std::vector<int>{chart->AnalogRow(8, 295)});
  EXPECT_EQ(RowsOf(773, col[9]), std::vector<int>{chart->AnalogRow(9, 640)});
  EXPECT_EQ(RowsOf(774, col[7]), std::vector<int>{chart->CounterRow(42, 7)});
  EXPECT_EQ(RowsOf(775, col[6]), std::vector<int>{chart->CounterRow(99999, 6)});
  EXPECT_DOUBLE_EQ(chart->referenceTime, kNow);
}

TEST_F(ReplayTest, TwentyDayOldNewestRecordStopsAtColumnZero) {
  WriteLines({TemperatureRecord(0, S(kNow - 21), 10.0f), TemperatureRecord(0, S(kNow - 20), 20.0f)});
  replay->ReplayDataLog();
  EXPECT_TRUE(replay->stopFlag());
  EXPECT_EQ(replay->linesDispatched(), 1);
  EXPECT_EQ(RowsOf(0, settings.plot.channelColour[0]), std::vector<int>{chart->TtureRow(0, 20.0f)});
  // Today's midnight is marked, and the day mark is back at today once the
  // replay is done.
  EXPECT_EQ(RowsOf(chart->TimeToColumn(46363.0) - 1, kDayMarkColour).size(), 236u);
  EXPECT_DOUBLE_EQ(chart->dayMark, 46363.0);
}

TEST_F(ReplayTest, LargeLogIsReadOnlyInItsLastBoundBytes) {
  const std::string old = TemperatureRecord(1, S(AtColumn(700)), 30.0f) + "\r\n";   // 17 bytes
  const std::string recent = TemperatureRecord(2, S(AtColumn(701)), 30.0f) + "\r\n";
  const std::string filler = TemperatureRecord(0, S(AtColumn(702)), 10.0f) + "\r\n";
  std::string text;
  text.reserve(2000000);
  while (text.size() < 1200000 - old.size()) text += old;
  const size_t tail = 2000000 - 790000;
  while (text.size() < tail) text += filler;
  text += recent;
  while (text.size() + filler.size() <= 2000000) text += filler;
  Write(text);
  ASSERT_GT(std::filesystem::file_size(settings.files.dataLogPath), 1999980u);
  replay->ReplayDataLog();
  EXPECT_GT(replay->bytesConsumed(), kReplayByteBound);
  EXPECT_LE(replay->bytesConsumed(), kReplayByteBound + 17);
  EXPECT_TRUE(ColumnHas(701, settings.plot.channelColour[2]));
  EXPECT_FALSE(ColumnHas(700, settings.plot.channelColour[1]));
  EXPECT_FALSE(replay->stopFlag());
}

TEST_F(ReplayTest, WindRecordAsLastLineWithoutLineEnd) {
  std::array<uint16_t, 17> bins{};
  bins[3] = 0xB5;
  bins[16] = 0x0C;
  const std::string wd = WindRecord(S(AtColumn(760)), bins);
  ASSERT_EQ(wd.size(), 44u);
  numeric.laWDa.text = "NNE";
  Write(TemperatureRecord(0, S(AtColumn(759)), 1.0f) + "\r\n" + wd);
  replay->ReplayDataLog();
  EXPECT_EQ(windColumns, std::vector<int>{760});
  EXPECT_EQ(channels.WindHistogram, bins);
  EXPECT_EQ(numeric.laWDa.text, "XXX");
  EXPECT_TRUE(ColumnHas(759, settings.plot.channelColour[0]));
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(ReplayTest, WindRecordsOfWrongLengthOrBadHex) {
  std::array<uint16_t, 17> bins{};
  std::string bad = WindRecord(S(AtColumn(760)), bins);
  bad[20] = 'G';
  WriteLines({TemperatureRecord(0, S(AtColumn(750)), 1.0f), bad,
              WindRecord(S(AtColumn(761)), bins) + "0", TemperatureRecord(0, S(AtColumn(770)), 1.0f)});
  replay->ReplayDataLog();
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], WindRecord(S(AtColumn(761)), bins).substr(0, 9) + " Length was: 45");
  EXPECT_EQ(ui.messages[1].rfind("Problem with val call, 10Aug03a. Prgm will close.", 0), 0u);
  EXPECT_TRUE(replay->stoppedAtBadRecord());
  EXPECT_FALSE(ColumnHas(750, settings.plot.channelColour[0]));  // nothing after the quit
  EXPECT_TRUE(windColumns.empty());
}

TEST_F(ReplayTest, RainBarsOnePerGroupAndNoneAgainstTheSentinel) {
  settings.plot.barGraphOn[5] = true;
  settings.plot.plotOffset[5] = 100;  // keep the trace pixels away from the bottom rows
  const uint32_t rain = settings.plot.channelColour[5];
  // Oldest first in the file; the replay meets them newest first.
  WriteLines({CounterRecord("rf", S(AtColumn(698)), 90),   // phase 2: bar 100 - 90
              CounterRecord("rf", S(AtColumn(701)), 100),  // phase 1: new group
              CounterRecord("rf", S(AtColumn(702)), 101),  // same group, not drawn again
              CounterRecord("rf", S(AtColumn(702)), 119),  // phase 2: bar 120 - 119
              CounterRecord("rf", S(AtColumn(703)), 120)}); // phase 3: primes the count
  replay->ReplayDataLog();
  EXPECT_EQ(RowsOf(702, rain, 200), std::vector<int>{236});
  EXPECT_EQ(RowsOf(698, rain, 200).size(), 29u);  // 119 - 90: the group's newest phase-2 count
  EXPECT_EQ(chart->lastRainCount, 90);

  // A phase-2 record with no newer count to compare with draws no bar.
  chart->Bitmap().Fill(ToRgb32(kBackgroundColour));
  chart->lastRainCount = kNoCount;
  replay->rainBarDrawn = false;
  WriteLines({CounterRecord("rf", S(AtColumn(706)), 130)});
  replay->ReplayDataLog();
  EXPECT_TRUE(RowsOf(706, rain, 200).empty());
  EXPECT_EQ(chart->lastRainCount, 130);
}

TEST_F(ReplayTest, LightningAndWindSpeedBars) {
  settings.plot.barGraphOn[6] = settings.plot.barGraphOn[7] = true;
  settings.plot.plotOffset[6] = settings.plot.plotOffset[7] = 100;
  WriteLines({CounterRecord("lt", S(AtColumn(701)), 10), CounterRecord("lt", S(AtColumn(702)), 13),
              CounterRecord("ws", S(AtColumn(708)), 1000), CounterRecord("ws", S(AtColumn(709)), 1000 + 150 * 5)});
  replay->ReplayDataLog();
  EXPECT_EQ(RowsOf(701, settings.plot.channelColour[7], 200).size(), 3u);
  EXPECT_EQ(RowsOf(708, settings.plot.channelColour[6], 200).size(), 5u);
  // With the switches off the same log draws no bars.
  settings.plot.barGraphOn[6] = settings.plot.barGraphOn[7] = false;
  chart->Bitmap().Fill(ToRgb32(kBackgroundColour));
  chart->lastLightningCount = chart->lastWindSpeedCount = kNoCount;
  replay->ReplayDataLog();
  EXPECT_TRUE(RowsOf(701, settings.plot.channelColour[7], 200).empty());
  EXPECT_TRUE(RowsOf(708, settings.plot.channelColour[6], 200).empty());
}

TEST_F(ReplayTest, BadCounterValueReportedAndSkipped) {
  WriteLines({CounterRecord("rf", S(AtColumn(700)), 5), "rf" + S(AtColumn(710)) + "00000x123",
              "ws" + S(AtColumn(711)) + "-00000012", TemperatureRecord(0, S(AtColumn(712)), 5.0f)});
  replay->ReplayDataLog();
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0].rfind("Problem with val call, old windspeed datum. Datum skipped over.", 0), 0u);
  EXPECT_EQ(errors.errors[1].rfind("Problem with val call, old rainfall datum. Datum skipped over.", 0), 0u);
  EXPECT_FALSE(ColumnHas(710, settings.plot.channelColour[5]));
  EXPECT_TRUE(ColumnHas(700, settings.plot.channelColour[5]));
  EXPECT_FALSE(replay->stoppedAtBadRecord());
}

TEST_F(ReplayTest, TornNewestLineIsSkippedNotFatal) {
  for (const std::string& torn : {std::string("t0") + S(AtColumn(760)) + "+21", std::string("rf2"),
                                 std::string("bp") + S(AtColumn(760)) + "0x9", std::string("wd") + S(AtColumn(760)) + "0102"}) {
    errors.errors.clear();
    chart->Bitmap().Fill(ToRgb32(kBackgroundColour));
    Write(TemperatureRecord(0, S(AtColumn(750)), 5.0f) + "\r\n" + torn);
    replay->ReplayDataLog();
    EXPECT_FALSE(replay->stoppedAtBadRecord()) << torn;
    EXPECT_TRUE(ui.messages.empty()) << torn;
    ASSERT_EQ(errors.errors.size(), 1u) << torn;
    EXPECT_NE(errors.errors[0].find("line 1 from the end"), std::string::npos) << errors.errors[0];
    EXPECT_TRUE(ColumnHas(750, settings.plot.channelColour[0])) << torn;
    EXPECT_FALSE(ColumnHas(760, settings.plot.channelColour[0])) << torn;
  }
}

TEST_F(ReplayTest, LineMarkedCutShortIsSkippedWhereverItIs) {
  // What a start after a crash leaves: the cut line, the writer's note, then
  // the new run's records; later starts find it further back.
  for (const std::string& torn : {std::string("t0") + S(AtColumn(740)) + "+2", std::string("t3") + "26l0",
                                 std::string("ws") + S(AtColumn(740)) + "00012"}) {
    errors.errors.clear();
    ui.messages.clear();
    chart->Bitmap().Fill(ToRgb32(kBackgroundColour));
    WriteLines({TemperatureRecord(0, S(AtColumn(730)), 5.0f), torn, CutShortCommentRecord(S(AtColumn(745))),
                StartRecord(S(AtColumn(745))), TemperatureRecord(0, S(AtColumn(750)), 5.0f)});
    replay->ReplayDataLog();
    EXPECT_FALSE(replay->stoppedAtBadRecord()) << torn;
    EXPECT_TRUE(ui.messages.empty()) << torn;
    ASSERT_EQ(errors.errors.size(), 1u) << torn;
    EXPECT_NE(errors.errors[0].find("line 4 from the end"), std::string::npos) << errors.errors[0];
    EXPECT_TRUE(ColumnHas(730, settings.plot.channelColour[0])) << torn;
    EXPECT_TRUE(ColumnHas(750, settings.plot.channelColour[0])) << torn;
    EXPECT_FALSE(ColumnHas(740, settings.plot.channelColour[0])) << torn;
  }
  // Without the note an older short line is still a fault.
  WriteLines({TemperatureRecord(0, S(AtColumn(730)), 5.0f), "t326l0", StartRecord(S(AtColumn(745)))});
  replay->ReplayDataLog();
  EXPECT_TRUE(replay->stoppedAtBadRecord());
}

TEST_F(ReplayTest, BadOlderLineStopsTheReplayNamingFileAndLineAndTheMonitorGoesOn) {
  const std::string bad = "bp" + S(AtColumn(740)) + "02x5";
  WriteLines({TemperatureRecord(0, S(AtColumn(730)), 5.0f), bad, TemperatureRecord(0, S(AtColumn(750)), 5.0f)});
  replay->ReplayDataLog();
  EXPECT_TRUE(replay->stoppedAtBadRecord());
  ASSERT_EQ(ui.messages.size(), 1u);
  const std::string& m = ui.messages[0];
  EXPECT_EQ(m.rfind("Problem with val call, old pressure datum. Prgm will close.", 0), 0u);
  EXPECT_NE(m.find("The monitor goes on"), std::string::npos);
  EXPECT_TRUE(ColumnHas(750, settings.plot.channelColour[0]));
  EXPECT_NE(m.find(bad.substr(2, 10)), std::string::npos);
  EXPECT_NE(m.find(settings.files.dataLogPath), std::string::npos);
  EXPECT_NE(m.find("line 2 from the end"), std::string::npos);
  EXPECT_NE(m.find(bad), std::string::npos);
  EXPECT_FALSE(ColumnHas(730, settings.plot.channelColour[0]));
  EXPECT_FALSE(replay->ReplayReaderOpen);
}

TEST_F(ReplayTest, ShortOlderRecordIsTheStampLengthFailure) {
  WriteLines({"t3" + S(AtColumn(740)).substr(0, 5), TemperatureRecord(0, S(AtColumn(750)), 5.0f)});
  replay->ReplayDataLog();
  EXPECT_TRUE(replay->stoppedAtBadRecord());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind(
                "PGDTtoVars was called with length not 10, which is not allowed. Press a key to quit.", 0),
            0u);
}

TEST_F(ReplayTest, RecordsAheadOfTheClockAreCountedAndExplainedOnce) {
  WriteLines({TemperatureRecord(0, S(AtColumn(750)), 5.0f), TemperatureRecord(0, S(kNow + 0.5), 5.0f),
              TemperatureRecord(1, S(kNow + 2), 5.0f), TemperatureRecord(0, S(kNow), 5.0f)});
  replay->ReplayDataLog();
  EXPECT_EQ(replay->recordsAhead(), 2);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_NE(errors.errors[0].find("holds 2 record(s) newer than this machine's clock"), std::string::npos);
  EXPECT_NE(errors.errors[0].find(DateTimeText(kNow + 2, false)), std::string::npos) << "the newest";
  EXPECT_TRUE(ColumnHas(750, settings.plot.channelColour[0]));
  WriteLines({TemperatureRecord(0, S(AtColumn(750)), 5.0f)});
  errors.errors.clear();
  replay->ReplayDataLog();
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(ReplayTest, LastCenturyStampIsOldNotAhead) {
  WriteLines({TemperatureRecord(0, "99l07m00", 5.0f), TemperatureRecord(0, S(AtColumn(750)), 5.0f)});
  replay->ReplayDataLog();
  EXPECT_EQ(replay->recordsAhead(), 0);
  EXPECT_TRUE(errors.errors.empty());
  EXPECT_TRUE(replay->stopFlag());  // 1999 lies before the chart's first column
  EXPECT_EQ(replay->linesDispatched(), 2);
}

TEST_F(ReplayTest, UnreadableStampReportedAndSkipped) {
  std::string badMonth = TemperatureRecord(0, S(AtColumn(745)), 5.0f);
  badMonth[4] = 'z';
  std::string badDay = TemperatureRecord(0, S(AtColumn(746)), 5.0f);
  badDay[5] = '3';
  badDay[6] = '9';
  WriteLines({TemperatureRecord(0, S(AtColumn(740)), 5.0f), badMonth, badDay,
              "cm" + S(AtColumn(747)) + " By hand: gauge cleaned", TemperatureRecord(0, S(AtColumn(750)), 5.0f)});
  replay->ReplayDataLog();
  EXPECT_FALSE(replay->stoppedAtBadRecord());
  EXPECT_EQ(errors.errors.size(), 2u);
  EXPECT_TRUE(ColumnHas(740, settings.plot.channelColour[0]));
  EXPECT_TRUE(ColumnHas(750, settings.plot.channelColour[0]));
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ReplayTest, DayMarksAtEveryMidnightCrossed) {
  const DateTime today = 46363.0;
  WriteLines({TemperatureRecord(0, S(today - 4 + 0.5), 1.0f), TemperatureRecord(0, S(today - 2 + 0.5), 1.0f),
              TemperatureRecord(0, S(today - 1 + 0.5), 1.0f), TemperatureRecord(0, S(today + 0.25), 1.0f)});
  replay->ReplayDataLog();
  auto marked = [&](DateTime midnight) {
    return RowsOf(chart->TimeToColumn(midnight) - 1, kDayMarkColour).size() == 236u;
  };
  EXPECT_TRUE(marked(today));
  EXPECT_TRUE(marked(today - 1));
  EXPECT_TRUE(marked(today - 2));
  EXPECT_FALSE(marked(today - 3));  // a day without records
  EXPECT_FALSE(marked(today - 4));
  EXPECT_DOUBLE_EQ(chart->dayMark, today);
  // The next scrolls draw no second mark beside the replayed ones.
  auto markedColumns = [&] {
    int n = 0;
    for (int x = 0; x < kGraphWidth; ++x) n += RowsOf(x, kDayMarkColour).size() == 236u;
    return n;
  };
  ASSERT_EQ(markedColumns(), 3);
  std::array<bool, kChannels> logged{};
  for (int i = 1; i <= 4; ++i) chart->ScrollGraph(kNow + i * 0.012, 0, 0, logged);
  EXPECT_EQ(markedColumns(), 3);
}

TEST_F(ReplayTest, OnOffSquareWaveAndContinuity) {
  WriteLines({CounterRecord("b1", S(AtColumn(700)), 5), CounterRecord("b1", S(AtColumn(701)), 5),
              CounterRecord("b1", S(AtColumn(702)), 6), CounterRecord("b1", S(AtColumn(703)), 7)});
  replay->ReplayDataLog();
  const uint32_t c = settings.plot.channelColour[11];
  const int low = chart->OnOffLevelRow(1, 0), high = chart->OnOffLevelRow(1, 1);
  EXPECT_FALSE(ColumnHas(703, c));  // the newest sample has nothing to compare with
  EXPECT_EQ(RowsOf(702, c), std::vector<int>{high});
  EXPECT_EQ(RowsOf(701, c), std::vector<int>{high});
  EXPECT_EQ(RowsOf(700, c).size(), static_cast<size_t>(low - high + 1));  // the step
  EXPECT_FALSE(channels.OnOffHasPrevious[1]);
  EXPECT_EQ(channels.CountLatest[11], 5);
  EXPECT_EQ(channels.CountLastLogged[11], 5);
  EXPECT_FALSE(channels.OnOffChanged[1]);
}

TEST_F(ReplayTest, OldestRecordAtLevelOneLeavesNoLevelForTheLiveTrace) {
  // Met newest first: 6 (level 1 against the start value, not drawn), 6
  // (level 0, a step), 5 (level 1, a step).
  WriteLines({CounterRecord("b2", S(AtColumn(700)), 5), CounterRecord("b2", S(AtColumn(701)), 6),
              CounterRecord("b2", S(AtColumn(702)), 6)});
  replay->ReplayDataLog();
  const uint32_t c = settings.plot.channelColour[12];
  const int low = chart->OnOffLevelRow(2, 0), high = chart->OnOffLevelRow(2, 1);
  EXPECT_FALSE(ColumnHas(702, c));
  EXPECT_EQ(RowsOf(701, c).size(), static_cast<size_t>(low - high + 1));
  EXPECT_EQ(RowsOf(700, c).size(), static_cast<size_t>(low - high + 1));
  // The live trace starts afresh: a steady second live sample is no transition.
  EXPECT_FALSE(channels.OnOffHasPrevious[2]);
  EXPECT_FALSE(channels.OnOffChanged[2]);
  EXPECT_EQ(channels.CountLastLogged[12], 5);
}

TEST_F(ReplayTest, MissingOrUnreadableLogContinuesWithoutHistory) {
  replay->ReplayDataLog();
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(replay->stoppedAtBadRecord());
  std::filesystem::create_directories(settings.files.dataLogPath);  // exists, cannot be read as a file
  replay->ReplayDataLog();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Unable to open Data Log file to read old data. Reason not clear.... file existed a moment ago!"});
  EXPECT_FALSE(replay->stoppedAtBadRecord());
  EXPECT_FALSE(replay->ReplayReaderOpen);
}

}  // namespace
}  // namespace wx
