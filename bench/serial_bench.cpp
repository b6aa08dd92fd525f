// SPDX-License-Identifier: GPL-2.0-or-later
// One reading of each chip kind through the DS9097U serial backend, against
// the emulated DS2480B on a pseudo-terminal: serial bytes and round trips per
// reading, and what that costs at 9600 baud (10 bits a byte on the wire) on
// top of the measured time. The program's own conversion waits (1800 ms,
// 55 ms) are skipped by a clock that jumps while they pump messages; they
// come on top of these figures on a real line.
#include <benchmark/benchmark.h>

#include "support/fakes.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "config/settings.h"
#include "onewire/devices.h"
#include "platform/clock.h"
#include "tmex/ds2480b/pty_adapter.h"
#include "tmex/ds2480b/serial_backend.h"
#include "tmex/sim/chips.h"
#include "tmex/sim/sim_network.h"
#include "tmex/tmex.h"

namespace {

struct Totals {
  long sent = 0, received = 0, trips = 0;
};

// Adds its traffic to the totals when the session lets it go.
class CountingBackend : public wx::Ds2480bBackend {
 public:
  CountingBackend(std::string device, Totals& t) : Ds2480bBackend(std::move(device), 500), t_(t) {}
  ~CountingBackend() override {
    Close();
    t_.sent += bytesSent();
    t_.received += bytesReceived();
    t_.trips += roundTrips();
  }

 private:
  Totals& t_;
};

enum Kind { kDs18s20, kDs18b20, kDs2423, kDs2438, kDs2450 };

struct Rig {
  Rig() : net(clock), pty(net) {
    station.adapterPort = 1;
    station.adapterType = 5;
    auto use = [&](int slot, const wx::RomCode& rom) {
      station.sensorRom[slot] = rom;
      station.sensorEnabled[slot] = true;
    };
    net.AddDs18s20(wx::MakeRom(wx::kFamilyDs18s20, 1)).SetTemperature(wx::ValueProgram::Constant(21.5));
    use(0, net.chips().back()->rom());
    net.AddDs18b20(wx::MakeRom(wx::kFamilyDs18b20, 2)).SetTemperature(wx::ValueProgram::Constant(-3.25));
    use(1, net.chips().back()->rom());
    net.AddDs2423(wx::MakeRom(wx::kFamilyDs2423, 3)).SetCounterA(wx::ValueProgram::Constant(1234));
    use(5, net.chips().back()->rom());
    station.counterPage[5] = 14;
    auto& baro = net.AddDs2438(wx::MakeRom(wx::kFamilyDs2438, 4));
    baro.SetVad(wx::ValueProgram::Constant(4.5));
    use(8, baro.rom());
    net.AddDs2450(wx::MakeRom(wx::kFamilyDs2450, 5)).SetVane(wx::ValueProgram::Constant(6), 0);
    use(10, net.chips().back()->rom());
    ok = pty.Open();
    server = std::thread([this] {
      while (!stop) pty.Serve(20);
    });
  }
  ~Rig() {
    stop = true;
    server.join();
  }
  wx::BackendFactory Factory() {
    return [this](int, int type) -> std::unique_ptr<wx::BusBackend> {
      if (type != 5) return nullptr;
      return std::make_unique<CountingBackend>(pty.slavePath(), totals);
    };
  }

  // Real time plus 50 ms a message pump, read by the server thread too.
  wx::test::SharedClock clock{wx::test::SharedClock::RealTime};
  wx::test::ScriptedUi ui{clock, 50};
  wx::test::RecordingErrors sink;
  wx::SimNetwork net;
  wx::Ds2480bPty pty;
  wx::StationConfig station;
  Totals totals;
  bool ok = false;
  std::atomic<bool> stop{false};
  std::thread server;
};

void BM_SerialReading(benchmark::State& state) {
  const Kind kind = static_cast<Kind>(state.range(0));
  Rig rig;
  if (!rig.ok) {
    state.SkipWithError(rig.pty.error().c_str());
    return;
  }
  wx::Tmex tmex(rig.Factory());
  int32_t cycle = 100;
  wx::Devices dev(tmex, rig.station, rig.clock, rig.ui, rig.sink, cycle);
  if (kind == kDs2450 && dev.DMLInit2450ADC(10).stepCode != 0) {
    state.SkipWithError("DS2450 set-up failed");
    return;
  }
  tmex.TMExtendedStartSession(1, 1, nullptr);  // lets the set-up's session go
  rig.totals = {};
  uint8_t failed = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    uint8_t step = 0;
    switch (kind) {
      case kDs18s20: step = dev.DMLGet1820Tture(0).stepCode; break;
      case kDs18b20: step = dev.DMLGet1820Tture(1).stepCode; break;
      case kDs2423: step = dev.DMLGetCount(5, 14).stepCode; break;
      case kDs2438: step = dev.DMLGetVAD(8).stepCode; break;
      case kDs2450: step = dev.DMLGet2540ADC(10).stepCode; break;
    }
    if (step) failed = step;
  }
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  // The last session's backend is counted once the next one replaces it.
  tmex.TMExtendedStartSession(1, 1, nullptr);
  if (failed) {
    state.SkipWithError(("a reading failed at step " + std::to_string(failed)).c_str());
    return;
  }
  const double n = static_cast<double>(state.iterations());
  const double bytes = static_cast<double>(rig.totals.sent + rig.totals.received) / n;
  const double wireMs = bytes * 10.0 / 9600.0 * 1000.0;
  const double perReadingMs = wallMs / n;
  state.counters["bytes_sent"] = static_cast<double>(rig.totals.sent) / n;
  state.counters["bytes_recv"] = static_cast<double>(rig.totals.received) / n;
  state.counters["round_trips"] = static_cast<double>(rig.totals.trips) / n;
  state.counters["pty_ms"] = perReadingMs;
  state.counters["rtt_us"] = perReadingMs * 1000.0 / (static_cast<double>(rig.totals.trips) / n);
  state.counters["wire_ms_9600"] = wireMs;
  state.counters["ms_at_9600"] = wireMs + perReadingMs;
}
BENCHMARK(BM_SerialReading)
    ->ArgName("kind")
    ->Arg(kDs18s20)
    ->Arg(kDs18b20)
    ->Arg(kDs2423)
    ->Arg(kDs2438)
    ->Arg(kDs2450)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
