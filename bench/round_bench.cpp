// SPDX-License-Identifier: GPL-2.0-or-later
// One 60-slot round of the demo station as the monitor runs it (a cycle at
// every 800 ms tick that finds the last one finished), on the direct
// simulated bus and through the DS9097U serial backend against the emulated
// DS2480B on a pseudo-terminal that models the wire: byte times at 9600 baud
// and a fixed latency per answered write (1 ms, and 16 ms as a USB serial
// converter's default latency timer); and through a real owserver on that
// pseudo-terminal (latency 0 and 16 ms), read over libownet.
//
// Only the bus traffic takes real time here: the waits (ticks, the 1800 ms
// and 55 ms conversion waits) move a clock on instead of sleeping, so
// round_s is the round's length on the program's clock, and wall_s the
// real time the bus took. Run with --benchmark_repetitions=5.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

// Before any Qt header: the network has a method named like a Qt macro.
#include "tmex/sim/station_file.h"

#include <QCoreApplication>

#include "app/demo.h"
#include "app/monitor.h"
#include "onewire/owserver_chip_bus.h"
#include "support/fakes.h"
#include "tmex/ds2480b/pty_adapter.h"
#include "tmex/ds2480b/serial_backend.h"
#include "tmex/tmex.h"

namespace {

namespace fs = std::filesystem;

// owserver on the pseudo-terminal at a free port of 127.0.0.1; its pid, or
// -1 when it did not start or answer.
pid_t StartOwserver(const std::string& pty, std::string& address) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(probe, reinterpret_cast<sockaddr*>(&a), len);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(probe);
  address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  std::vector<std::string> args{"owserver", "-d", pty, "-p", address, "--foreground", "--error_level=0"};
  std::vector<char*> argv;
  for (auto& x : args) argv.push_back(x.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "owserver", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  wx::OwserverConnection connection(address);
  for (int i = 0; i < 100; ++i) {
    const auto list = connection.Run({{wx::OwserverConnection::Call::kList, "/", {}}}, nullptr);
    if (list && !list->empty() && list->back().code > 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

void BM_DemoRound(benchmark::State& state) {
  const int latencyMs = static_cast<int>(state.range(0));  // negative: the direct bus
  const bool owserver = state.range(1) != 0;
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
  std::string owserverAddress;
  pid_t owserverPid = -1;
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
      if (owserver && (owserverPid = StartOwserver(pty->slavePath(), owserverAddress)) < 0) factory = nullptr;
    }
  }
  if (owserver) {
    // owserver waits in real time: the pumping waits only sleep a little,
    // without moving the clock on.
    ui.waitsToDeadline = false;
    ui.duringWait = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
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
    if (owserver) monitor.busRoute = owserverAddress;
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
  if (owserverPid > 0) {
    ::kill(owserverPid, SIGTERM);
    ::waitpid(owserverPid, nullptr, 0);
  }
  stop = true;
  if (server.joinable()) server.join();
  fs::current_path(oldCwd);
  fs::remove_all(dir);
}
BENCHMARK(BM_DemoRound)
    ->ArgNames({"latency_ms", "owserver"})
    ->Args({-1, 0})
    ->Args({1, 0})
    ->Args({16, 0})
    ->Args({0, 1})
    ->Args({16, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // The monitor's timers and posted events need an application object.
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
