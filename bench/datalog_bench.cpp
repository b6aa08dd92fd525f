// SPDX-License-Identifier: GPL-2.0-or-later
// AppendLogLine: one record written, synced to disk, file closed and reopened.
#include <benchmark/benchmark.h>

#include "support/fakes.h"

#include <filesystem>
#include <stdlib.h>

#include "datalog/data_log.h"
#include "datalog/records.h"
#include "datalog/stamps.h"

namespace {

using wx::test::ScriptedUi;
using wx::test::RecordingErrors;

void BM_AppendLogLine(benchmark::State& state) {
  char tmpl[] = "/tmp/wx118-bench-XXXXXX";
  const std::filesystem::path root = mkdtemp(tmpl);
  wx::FileLocations files;
  wx::PathMapper paths(root);
  wx::FakeClock clock;
  ScriptedUi ui;
  RecordingErrors sink;
  wx::MainView view;
  wx::DataLog log(files, paths, clock, ui, sink, view);
  log.LogDataToFile = true;
  log.OpenDataLog();
  const std::string line = wx::TemperatureRecord(0, wx::StampNow(clock), 21.5f);
  for (auto _ : state) log.AppendLogLine(line);
  log.Close();
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_AppendLogLine)->Unit(benchmark::kMicrosecond);

void BM_StampAndRecord(benchmark::State& state) {
  wx::FakeClock clock;
  for (auto _ : state) benchmark::DoNotOptimize(wx::TemperatureRecord(0, wx::StampNow(clock), -3.25f));
}
BENCHMARK(BM_StampAndRecord);

}  // namespace

BENCHMARK_MAIN();
