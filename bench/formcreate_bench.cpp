// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up time: FormCreate from nothing to the armed timer, with a whole
// station configured and a realistic 800,000-byte data log in place (written
// by wx118-loggen), so the replay of the old log is part of the figure.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/demo.h"
#include "app/monitor.h"
#include "support/fakes.h"
#include "tmex/tmex.h"

namespace {

namespace fs = std::filesystem;
constexpr wx::DateTime kNow = 46363.5;  // the log generator's default end

// wx118-loggen lives in the build folder, one level above the benchmarks.
fs::path LogGenerator() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return self.parent_path().parent_path() / "wx118-loggen";
}

void BM_FormCreate(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / ("wx118_formcreate_bench_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "root" / "c");
  const fs::path oldCwd = fs::current_path();
  fs::current_path(dir);  // the primary file is read from the current folder

  wx::StationWriter station(wx::StationWriter::AllChannels());
  station.WritePrimary(dir / "WX118ini.txt");
  station.WriteStationFile(dir / "station.txt");
  const fs::path pristine = dir / "pristine-log.txt";
  const fs::path log = dir / "root" / "c" / "WX18DtLg.txt";
  const std::string command = LogGenerator().string() + " " + pristine.string() + " " +
                              std::to_string(state.range(0)) + " > /dev/null";
  if (std::system(command.c_str()) != 0 || !fs::exists(pristine)) {
    state.SkipWithError(("could not run " + LogGenerator().string()).c_str());
    fs::current_path(oldCwd);
    return;
  }

  wx::PathMapper paths(dir / "root");
  wx::test::ScriptedUi ui;
  int64_t replayed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(pristine, log, fs::copy_options::overwrite_existing);
    fs::remove(dir / "root" / "c" / "WX18ErLg.txt");
    wx::FakeClock clock(kNow);
    wx::Tmex tmex(wx::StationWriter::MakeFactory(dir / "station.txt", clock));
    state.ResumeTiming();

    auto monitor = std::make_unique<wx::Monitor>(clock, ui, paths, tmex);
    monitor->FormCreate();

    state.PauseTiming();
    if (!monitor->views.main.timerEnabled) state.SkipWithError("the timer was not armed");
    replayed = monitor->replay().bytesConsumed();
    monitor.reset();
    state.ResumeTiming();
  }
  state.counters["log_bytes"] = static_cast<double>(fs::file_size(pristine));
  state.counters["replayed_bytes"] = static_cast<double>(replayed);
  fs::current_path(oldCwd);
  fs::remove_all(dir);
}
BENCHMARK(BM_FormCreate)->Arg(800000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
