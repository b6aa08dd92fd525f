// SPDX-License-Identifier: GPL-2.0-or-later
#include <benchmark/benchmark.h>

#include "support/fakes.h"
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "datalog/records.h"
#include "datalog/replay.h"
#include "datalog/stamps.h"

namespace {

using wx::test::ScriptedUi;
using wx::test::RecordingErrors;
constexpr double kNow = 46363.5;

// Oldest first, newest at kNow; about 100 bytes per minute of records.
void WriteLog(const std::filesystem::path& p, long long bytes) {
  std::vector<std::string> lines;
  long long size = 0;
  for (long long tick = 0; size < bytes; ++tick) {
    const std::string s = wx::Stamp(kNow - tick / 1440.0);
    std::array<uint16_t, 17> bins{};
    bins[tick % 16] = 181;
    for (const std::string& l : {wx::TemperatureRecord(0, s, 10.0f + tick % 50 * 0.1f),
                                 wx::CounterRecord("rf", s, 900000 - static_cast<int32_t>(tick / 7)),
                                 tick % 3 == 0 ? wx::WindRecord(s, bins) : wx::AnalogRecord("bp", s, 295)}) {
      lines.push_back(l);
      size += static_cast<long long>(l.size()) + 2;
    }
  }
  std::ofstream f(p, std::ios::binary);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) f << *it << "\r\n";
}

long MaxRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void BM_Replay(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / ("wx118_replay_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  wx::Settings settings;
  wx::ApplyDefaults(settings);
  settings.plot.barGraphOn[5] = true;
  settings.files.dataLogPath = (dir / "log.txt").string();
  WriteLog(settings.files.dataLogPath, state.range(0));
  wx::PathMapper paths(dir);
  wx::FakeClock clock(kNow);
  ScriptedUi ui;
  RecordingErrors errors;
  wx::MainView mainView;
  wx::NumericView numeric;
  wx::ChannelState channels;
  wx::StripChart chart(settings, ui);
  wx::DataLog dataLog(settings.files, paths, clock, ui, errors, mainView);
  wx::HistoryReplay replay(chart, settings, channels, dataLog, numeric, [](int) {}, errors, ui, paths,
                           clock);
  const long rssBefore = MaxRssKb();
  for (auto _ : state) {
    chart.lastRainCount = wx::kNoCount;
    replay.ReplayDataLog();
    benchmark::DoNotOptimize(replay.bytesConsumed());
  }
  state.counters["bytes_read"] = static_cast<double>(replay.bytesConsumed());
  state.counters["max_rss_growth_kb"] = static_cast<double>(MaxRssKb() - rssBefore);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Replay)->Arg(800000)->Arg(20000000)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
