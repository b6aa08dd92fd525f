// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "archive/archive_db.h"
#include "archive/archive_rebuild.h"
#include "archive/archive_writer.h"
#include "archive/history_pages.h"
#include "datalog/records.h"
#include "support/fakes.h"

namespace wx {
namespace {

using test::ReadFile;
using test::RecordingErrors;
using test::TempDir;

// 2026-12-09 00:00 as a DateTime, and minutes after it.
constexpr DateTime kDay = 46365.0;
DateTime At(double minutes) { return kDay + minutes / 1440.0; }

WeatherValues Snap(double minutes, double temp, double rainToday = 0, double gust = 0) {
  WeatherValues v;
  v.when = At(minutes);
  v.temperatureC = temp;
  v.temperatureDay[0].low = v.temperatureDay[0].high = TimedValue{temp, v.when};
  v.rainTodayMm = rainToday;
  v.gustKmh = gust;
  v.peakGustToday = TimedValue{gust, v.when};
  v.peakGustDirectionDeg = 90;
  v.windAverage10Kmh = gust / 2;
  v.windDirectionDeg = 90;
  return v;
}

Reading ReadingAt(double minutes) {
  Reading r;
  r.when = At(minutes);
  return r;
}

std::vector<ArchiveBatch> Record(const std::vector<WeatherValues>& snaps, int interval = 300) {
  std::vector<ArchiveBatch> out;
  ArchiveRecorder r(interval, [&](ArchiveBatch&& b) { out.push_back(std::move(b)); });
  for (const auto& s : snaps) r.Observe(s);
  r.Finish();
  return out;
}

const DayDelta* Find(const std::vector<DayDelta>& rows, Quantity q, int day = 20261209) {
  for (const auto& d : rows)
    if (d.quantity == q && d.day == day) return &d;
  return nullptr;
}

TEST(ArchiveRecorder, RecordsAtIntervalEndsExtremesFromEveryReadingRainAcrossMidnight) {
  // A spike at 00:02 between records: not in any record, but the day's high.
  const auto batches = Record({Snap(0.5, 5), Snap(2.2, 9.5, 0, 30), Snap(4, 6), Snap(7, 4, 0.4), Snap(11, 3, 1.0),
                               Snap(1439, 2, 3.0), Snap(1441, 1, 0.2)});
  std::vector<ArchiveRecord> records;
  for (const auto& b : batches)
    if (b.record) records.push_back(*b.record);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].time, ArchiveSeconds(At(5)));
  EXPECT_EQ(records[0][Field::OutTemp], 6.0);  // the last reading of the interval
  EXPECT_EQ(records[1][Field::Rain], 0.4);
  EXPECT_EQ(records[2][Field::Rain], 0.6);
  EXPECT_EQ(records[3][Field::Rain], 2.0);
  // After midnight the day total starts again: all of it is new rain, on
  // the new day (its record comes with Finish only as extremes).
  std::vector<DayDelta> days;
  for (const auto& b : batches) days.insert(days.end(), b.days.begin(), b.days.end());
  ArchiveDb db;
  TempDir dir;
  ASSERT_TRUE(db.Open(dir.path() / kArchiveFileName));
  for (const auto& b : batches) ASSERT_TRUE(db.Write(b));
  const auto rows = db.Days(20261209, 20261210);
  const DayDelta* t = Find(rows, Quantity::OutTemp);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->max, 9.5);
  EXPECT_EQ(t->maxTime, ArchiveSeconds(At(2)));
  EXPECT_EQ(t->min, 2.0);
  EXPECT_EQ(t->count, 4);
  EXPECT_DOUBLE_EQ(Find(rows, Quantity::Rain)->sum, 3.0);
  EXPECT_EQ(Find(rows, Quantity::Wind)->max, 30.0);
  EXPECT_EQ(Find(rows, Quantity::Wind)->maxDir, 90.0);
  EXPECT_EQ(Find(rows, Quantity::OutTemp, 20261210)->min, 1.0);
}

TEST(ArchiveDb, BatchesMergeIntoTheDayRowAsOneRunWould) {
  // The same readings recorded in one run, and in two runs with a restart
  // (the second seeded with what the first archived), give the same rows.
  std::vector<WeatherValues> snaps;
  for (int m = 0; m < 120; m += 1) snaps.push_back(Snap(m + 0.3, 10 + std::sin(m / 9.0) * 4, m / 30 * 0.2, m % 17));
  TempDir dir;
  ArchiveDb one, two;
  ASSERT_TRUE(one.Open(dir.path() / "one.sqlite"));
  ASSERT_TRUE(two.Open(dir.path() / "two.sqlite"));
  for (const auto& b : Record(snaps)) ASSERT_TRUE(one.Write(b));
  const size_t cut = 61;  // a restart inside an interval
  for (const auto& b : Record({snaps.begin(), snaps.begin() + cut})) ASSERT_TRUE(two.Write(b));
  std::vector<ArchiveBatch> second;
  ArchiveRecorder r(300, [&](ArchiveBatch&& b) { second.push_back(std::move(b)); });
  r.SeedTotals(20261209, Find(two.Days(20261209, 20261209), Quantity::Rain)->sum, std::nullopt);
  for (size_t i = cut; i < snaps.size(); ++i) r.Observe(snaps[i]);
  r.Finish();
  for (const auto& b : second) ASSERT_TRUE(two.Write(b));
  const auto a = one.Days(0, 99999999), b = two.Days(0, 99999999);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].min, b[i].min) << i;
    EXPECT_EQ(a[i].max, b[i].max) << i;
    EXPECT_EQ(a[i].maxTime, b[i].maxTime) << i;
    EXPECT_NEAR(a[i].sum, b[i].sum, 1e-9) << i;
  }
  // The interval that the restart cut in two is recorded once, whole; the
  // last one, unfinished, not at all.
  EXPECT_EQ(one.Records(0, INT64_MAX).size(), 23u);
  EXPECT_EQ(one.Records(0, INT64_MAX), two.Records(0, INT64_MAX));
  // Hourly buckets sum the rain and keep the highest gust of the records.
  const auto hours = one.Buckets(0, INT64_MAX, 3600);
  ASSERT_EQ(hours.size(), 2u);
  EXPECT_DOUBLE_EQ(*hours[0][Field::Rain] + *hours[1][Field::Rain], 0.6);
  EXPECT_EQ(hours[0][Field::WindGust], 15.0);
}

TEST(ArchiveWriter, UnusableDatabaseIsReportedOnceAndTheWorkGoesOn) {
  TempDir dir;
  const auto damaged = dir.Write("damaged.sqlite", std::string(8192, 'x'));
  const auto readOnlyDir = dir.path() / "ro";
  std::filesystem::create_directory(readOnlyDir);
  ::chmod(readOnlyDir.c_str(), 0555);
  for (const auto& path : {damaged, readOnlyDir / kArchiveFileName}) {
    RecordingErrors errors;
    {
      LiveArchive live(
          ArchiveSettings{}, {path, "", {}}, [](DateTime now) { return Snap((now - kDay) * 1440, 1); }, errors);
      for (int m = 0; m < 60; ++m) live.OnReading(ReadingAt(m));
    }
    if (::geteuid() == 0 && path != damaged) continue;  // root writes anywhere
    ASSERT_EQ(errors.errors.size(), 1u) << path;
    EXPECT_TRUE(errors.Has("the monitor goes on")) << errors.errors[0];
  }
  EXPECT_EQ(ReadFile(damaged), std::string(8192, 'x'));  // not "repaired" away
}

TEST(ArchiveWriter, LockedDatabaseIsSaidOnceAndWrittenWhenFree) {
  TempDir dir;
  const auto path = dir.path() / kArchiveFileName;
  ArchiveDb other;
  ASSERT_TRUE(other.Open(path));
  ASSERT_TRUE(other.Begin());  // another writer holds the lock
  RecordingErrors errors;
  ArchiveWriter writer({path, "", {}});
  writer.Start();
  std::vector<std::string> said;
  ArchiveRecorder r(300, [&](ArchiveBatch&& b) { writer.Submit(std::move(b)); });
  for (int m = 0; m < 30; ++m) r.Observe(Snap(m, m));
  for (int i = 0; i < 60 && said.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (auto p = writer.TakeProblem()) said.push_back(*p);
  }
  other.Rollback();
  for (int m = 30; m < 60; ++m) r.Observe(Snap(m, m));
  writer.Stop();
  if (auto p = writer.TakeProblem()) said.push_back(*p);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("locked"), std::string::npos) << said[0];
  // The batches that met the lock are written after it, none lost.
  const auto records = other.Records(0, INT64_MAX);
  ASSERT_EQ(records.size(), 11u);
  EXPECT_EQ(records.front().time, ArchiveSeconds(At(5)));
  EXPECT_EQ(records.back().time, ArchiveSeconds(At(55)));
}

TEST(ArchiveWriter, WritesPagesAndSummariesThatScaleAndFetchNothing) {
  TempDir dir;
  RecordingErrors errors;
  const std::string folder = dir.path().string() + "/";
  {
    LiveArchive live(
        ArchiveSettings{}, {dir.path() / kArchiveFileName, folder, {}},
        [](DateTime now) { return Snap((now - kDay) * 1440, -3 + (now - kDay) * 20, 0, 12); }, errors);
    for (int m = 0; m < 600; m += 2) live.OnReading(ReadingAt(m));
  }
  EXPECT_TRUE(errors.errors.empty());
  for (const char* f : {"history.html", "history-week.html", "history-month.html", "history-year.html"}) {
    const std::string page = ReadFile(dir.path() / f);
    ASSERT_NE(page.find("<svg viewBox"), std::string::npos) << f;
    EXPECT_NE(page.find("Temperature (°C)"), std::string::npos) << f;
    EXPECT_EQ(page.find("http://", page.find("<body>")), page.find("http://www.w3.org/2000/svg")) << f;
    EXPECT_EQ(page.find("src="), std::string::npos) << f;
  }
  const std::string day = ReadFile(dir.path() / "history.html");
  EXPECT_NE(day.find("06:00"), std::string::npos);  // time labels
  const std::string month = ReadFile(dir.path() / "NOAA-2026-12.txt");
  EXPECT_NE(month.find("MONTHLY CLIMATOLOGICAL SUMMARY for Dec 2026"), std::string::npos);
  // Day 09: high at the last reading (09:58), low at the first.
  EXPECT_NE(month.find("09    1.1    5.3  09:58   -3.0  00:00   17.2    0.0    0.0    6.0   12.0  00:00     E"),
            std::string::npos)
      << month;
  EXPECT_NE(ReadFile(dir.path() / "NOAA-2026.txt").find("2026 12"), std::string::npos);
}

std::string TestLog() {
  std::string log = "cm Data Log File for WX118\r\n";
  for (int m = 0; m < 3 * 1440; m += 3) {
    const int d = 9 + m / 1440, h = m % 1440 / 60, mi = m % 60;
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "26l%02d%c%02d", d, 'a' + h, mi);
    log += "t0" + std::string(stamp) + TemperatureField(static_cast<float>(5 + 5 * std::sin(m / 200.0))) + "\r\n";
    log += "rf" + std::string(stamp) + std::to_string(1000000000 + m / 7).substr(1) + "\r\n";
  }
  return log;
}

TEST(ArchiveRebuild, CompressedAndRotatedLogsGiveTheSameArchiveTwice) {
  TempDir dir;
  const std::string log = TestLog();
  const size_t half = log.find("t026l10");
  // logrotate's set: the older half compressed, the newer plain.
  const auto older = dir.path() / "WX18DtLg.txt.1.gz";
  gzFile gz = gzopen(older.c_str(), "wb");
  gzwrite(gz, log.data(), static_cast<unsigned>(half));
  gzclose(gz);
  dir.Write("WX18DtLg.txt", log.substr(half));
  const auto plain = dir.Write("whole.txt", log);
  // A count as the temperature, rain in tenths of its count: a stand-in for
  // the weather that only this test needs.
  const auto engine = [] {
    auto last = std::make_shared<WeatherValues>();
    return RebuildEngine{[last](const Reading& r) {
                           if (r.channel == 0) last->temperatureC = r.raw;
                           if (r.channel == 5) last->rainTodayMm = std::fmod(r.raw, 1440.0 / 7) / 10;
                         },
                         [last](DateTime now) {
                           last->when = now;
                           return *last;
                         },
                         {}};
  };
  std::vector<std::string> said, skipped;
  const auto say = [&](const std::string& s) { said.push_back(s); };
  const auto rotated = OldestFirst(RotatedLogs(dir.path() / "WX18DtLg.txt"), 2026, skipped);
  ASSERT_EQ(rotated.size(), 2u);
  EXPECT_EQ(rotated[0], older);
  ArchiveDb a, b;
  ASSERT_TRUE(a.Open(dir.path() / "a.sqlite"));
  ASSERT_TRUE(b.Open(dir.path() / "b.sqlite"));
  const RebuildReport ra = RebuildArchive(a, rotated, 300, engine(), 2026, say);
  ASSERT_EQ(ra.error, "");
  EXPECT_EQ(ra.readings, 2 * 1440);
  ASSERT_EQ(RebuildArchive(b, {plain}, 300, engine(), 2026, say).error, "");
  ASSERT_EQ(RebuildArchive(b, {plain}, 300, engine(), 2026, say).error, "");  // again: the same, not doubled
  EXPECT_EQ(a.Records(0, INT64_MAX), b.Records(0, INT64_MAX));
  EXPECT_EQ(a.Days(0, 99999999), b.Days(0, 99999999));
  EXPECT_EQ(a.Records(0, INT64_MAX).size(), 3u * 288 - 1);
  ASSERT_EQ(said.size(), 4u);
  EXPECT_NE(said[0].find("WX18DtLg.txt.1.gz: 961 lines, 960 readings"), std::string::npos) << said[0];
}

TEST(ArchiveRebuild, CutShortCompressedLogGivesWhatItHolds) {
  TempDir dir;
  const std::string log = TestLog();
  const auto path = dir.path() / "cut.gz";
  gzFile gz = gzopen(path.c_str(), "wb");
  gzwrite(gz, log.data(), static_cast<unsigned>(log.size()));
  gzclose(gz);
  std::string bytes = ReadFile(path);
  dir.Write("cut.gz", bytes.substr(0, bytes.size() / 2));
  int64_t lines = 0;
  const std::string why = ReadLogLines(path, [&](std::string_view) { ++lines; });
  EXPECT_NE(why, "");
  EXPECT_GT(lines, 100);
}

}  // namespace
}  // namespace wx
