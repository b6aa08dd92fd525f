// SPDX-License-Identifier: GPL-2.0-or-later
// The archive with a year of 5-minute records (a reading a minute): the cost
// on the cycle of recording a reading's snapshot and queueing the batch, the
// worker's transaction per record, the month page with its summary, the year
// page with its summary, and the file's size after the year.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "archive/archive_writer.h"
#include "support/fakes.h"

namespace {

constexpr wx::DateTime kStart = 46023.0;  // 2026-01-01

wx::WeatherValues Snapshot(int minute) {
  wx::WeatherValues v;
  v.when = kStart + minute / 1440.0;
  const double day = minute / 1440.0;
  v.temperatureC = 10 - 8 * std::cos(day / 365 * 2 * M_PI) + 5 * std::sin(minute % 1440 / 1440.0 * 2 * M_PI);
  v.humidityPercent = 70 + 20 * std::sin(minute / 700.0);
  v.dewPointC = *v.temperatureC - 4;
  v.windChillC = *v.temperatureC - 1;
  v.heatIndexC = *v.temperatureC;
  v.seaLevelPressureHpa = 1013 + 12 * std::sin(minute / 5000.0);
  v.stationPressureHpa = *v.seaLevelPressureHpa - 12;
  v.windAverage10Kmh = 8 + 6 * std::sin(minute / 300.0);
  v.gustKmh = *v.windAverage10Kmh * 1.6;
  v.windDirectionDeg = std::fmod(minute * 0.37, 360);
  v.rainTodayMm = minute % 1440 / 1440.0 * (static_cast<int>(day) % 3 == 0 ? 6.0 : 0.0);
  v.rainRateMmPerHour = 1.2;
  v.lightningToday = 0;
  // The day's ranges as the weather keeps them (here: the latest value).
  v.temperatureDay[0].low = v.temperatureDay[0].high = wx::TimedValue{*v.temperatureC, v.when};
  v.humidityDay.low = v.humidityDay.high = wx::TimedValue{*v.humidityPercent, v.when};
  v.pressureDay.low = v.pressureDay.high = wx::TimedValue{*v.seaLevelPressureHpa, v.when};
  v.peakGustToday = wx::TimedValue{*v.gustKmh, v.when};
  v.peakGustDirectionDeg = v.windDirectionDeg;
  return v;
}

struct Year {
  Year() {
    wx::ArchiveDb db;
    if (!db.Open(file)) std::abort();
    db.Begin();
    wx::ArchiveRecorder r(300, [&](wx::ArchiveBatch&& b) { db.Write(b); });
    for (int m = 0; m < 365 * 1440; ++m) r.Observe(Snapshot(m));
    r.Finish();
    db.Commit();
    db.Close();
    struct stat st {};
    ::stat(file.c_str(), &st);
    bytes = st.st_size;
  }
  wx::test::TempDir dir;
  std::filesystem::path file = dir.path() / wx::kArchiveFileName;
  int64_t bytes = 0;
  int64_t now = wx::ArchiveSeconds(kStart + 364.5);
};

Year& TheYear() {
  static Year y;
  return y;
}

// What OnReading costs the cycle: the snapshot recorded, and at an interval's
// end the batch handed to the worker's queue.
void BM_RecordOnCycle(benchmark::State& state) {
  wx::test::TempDir dir;
  wx::ArchiveWriter writer({dir.path() / "live.sqlite", "", {}});
  writer.Start();
  wx::ArchiveRecorder r(300, [&](wx::ArchiveBatch&& b) { writer.Submit(std::move(b)); });
  int minute = 0;
  for (auto _ : state) r.Observe(Snapshot(minute++));
  writer.Stop();
}
BENCHMARK(BM_RecordOnCycle)->Unit(benchmark::kMicrosecond);

// The worker's share: one record's transaction on the year's file.
void BM_WriteRecord(benchmark::State& state) {
  Year& y = TheYear();
  wx::ArchiveDb db;
  db.Open(y.file);
  int minute = 365 * 1440;
  std::vector<wx::ArchiveBatch> batches;
  wx::ArchiveRecorder r(300, [&](wx::ArchiveBatch&& b) { batches.push_back(std::move(b)); });
  for (auto _ : state) {
    state.PauseTiming();
    batches.clear();
    while (batches.empty()) r.Observe(Snapshot(minute++));
    state.ResumeTiming();
    db.Write(batches.front());
  }
}
BENCHMARK(BM_WriteRecord)->Unit(benchmark::kMicrosecond);

void BM_MonthPageAndSummary(benchmark::State& state) {
  Year& y = TheYear();
  wx::ArchiveDb db;
  db.Open(y.file, true);
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = wx::HistoryPage(db, wx::HistoryPeriod::Month, y.now, "Bench").size();
    bytes += wx::MonthSummary(db, 2026, 12, {}).size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MonthPageAndSummary)->Unit(benchmark::kMillisecond);

void BM_YearPageAndSummary(benchmark::State& state) {
  Year& y = TheYear();
  wx::ArchiveDb db;
  db.Open(y.file, true);
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = wx::HistoryPage(db, wx::HistoryPeriod::Year, y.now, "Bench").size();
    bytes += wx::YearSummary(db, 2026, {}).size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_YearPageAndSummary)->Unit(benchmark::kMillisecond);

// Every file the worker writes after a record: four pages, two summaries.
void BM_AllHistoryFiles(benchmark::State& state) {
  Year& y = TheYear();
  wx::ArchiveDb db;
  db.Open(y.file, true);
  const std::string folder = y.dir.path().string() + "/";
  std::set<std::string> swept;
  for (auto _ : state) wx::WriteHistoryFiles(db, folder, y.now, {}, swept);
  state.counters["archive_MB_per_year"] = static_cast<double>(y.bytes) / 1e6;
}
BENCHMARK(BM_AllHistoryFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
