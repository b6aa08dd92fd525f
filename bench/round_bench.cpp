// SPDX-License-Identifier: GPL-2.0-or-later
// One 60-slot round of the demo station as the monitor runs it (a cycle at
// every 800 ms tick that finds the last one finished), on the direct
// simulated bus and through the DS9097U serial backend against the emulated
// DS2480B on a pseudo-terminal that models the wire: byte times at 9600 baud
// and a fixed latency per answered write (1 ms, and 16 ms as a USB serial
// converter's default latency timer).
//
// Only the bus traffic takes real time here: the waits (ticks, the 1800 ms
// and 55 ms conversion waits) move a clock on instead of sleeping, so
// round_s is the round's length on the program's clock, and wall_s the
// real time the bus took. Run with --benchmark_repetitions=5.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

// Before any Qt header: the network has a method named like a Qt macro.
#include "tmex/sim/station_file.h"

#include <QGuiApplication>

#include "app/demo.h"
#include "app/monitor.h"
#include "support/fakes.h"
#include "tmex/ds2480b/pty_adapter.h"
#include "tmex/ds2480b/serial_backend.h"
#include "tmex/tmex.h"

namespace {

namespace fs = std::filesystem;

void BM_DemoRound(benchmark::State& state) {
  const int latencyMs = static_cast<int>(state.range(0));  // negative: the direct bus
  const fs::path dir = fs::temp_directory_path() /
                       ("wx118_round_bench_" + std::to_string(::getpid()) + "_" + std::to_string(latencyMs));
  fs::remove_all(dir);
  const wx::DemoPaths demo = wx::WriteDemoInstallation(dir);
  const fs::path oldCwd = fs::current_path();
  fs::current_path(demo.dir);  // the primary file is read from the current folder

  // Real time plus whatever the waits jumped: a wait sleeps until its
  // deadline when no message comes, so the clock jumps there.
  wx::test::SharedClock clock(wx::test::SharedClock::RealTime);
  wx::test::ScriptedUi ui(clock, 0);
  ui.waitsToDeadline = true;
  std::string error;
  std::unique_ptr<wx::SimNetwork> net = wx::LoadStation(demo.station, clock, error);
  std::unique_ptr<wx::Ds2480bPty> pty;
  std::atomic<bool> stop{false};
  std::atomic<long> writes{0};
  std::thread server;
  wx::BackendFactory factory;
  if (latencyMs < 0) {
    factory = wx::StationWriter::MakeFactory(demo.station, clock);
  } else if (net) {
    pty = std::make_unique<wx::Ds2480bPty>(*net);
    if (pty->Open()) {
      pty->SetWireTiming(true, latencyMs);
      pty->SetTrace([&writes](char d, const std::vector<uint8_t>&) {
        if (d == '>') ++writes;
      });
      server = std::thread([&] {
        while (!stop) pty->Serve(20);
      });
      factory = wx::MakeSerialBackendFactory(pty->slavePath());
    }
  }
  if (!factory) {
    state.SkipWithError(("no bus: " + error).c_str());
    fs::current_path(oldCwd);
    return;
  }

  {
    wx::PathMapper paths(demo.root);
    wx::Tmex tmex(factory);
    wx::Monitor monitor(clock, ui, paths, tmex);
    monitor.FormCreate();
    double roundMs = 0, wallMs = 0;
    long errors = 0;
    writes = 0;  // the start-up's traffic is not part of a round
    for (auto _ : state) {
      const uint32_t first = clock.GetTickCount();
      uint32_t tick = first;
      const long errorsBefore = monitor.ErrorCount;
      const auto t0 = std::chrono::steady_clock::now();
      for (int slot = 0; slot < 60; ++slot) {
        const uint32_t now = clock.GetTickCount();
        if (int32_t(tick - now) > 0) clock.AdvanceMs(tick - now);
        monitor.Timer1Timer();
        // The next tick that finds the cycle finished.
        while (int32_t(tick - clock.GetTickCount()) <= 0) tick += 800;
      }
      wallMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      roundMs += tick - first;
      errors += monitor.ErrorCount - errorsBefore;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["round_s"] = roundMs / n / 1000.0;
    state.counters["wall_s"] = wallMs / n / 1000.0;
    state.counters["writes"] = static_cast<double>(writes.load()) / n;
    state.counters["errors"] = static_cast<double>(errors) / n;
  }
  stop = true;
  if (server.joinable()) server.join();
  fs::current_path(oldCwd);
  fs::remove_all(dir);
}
BENCHMARK(BM_DemoRound)
    ->ArgName("latency_ms")
    ->Arg(-1)
    ->Arg(1)
    ->Arg(16)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // The chart draws its texts with fonts: that needs a GUI application.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
