// SPDX-License-Identifier: GPL-2.0-or-later
// Strong access through the DS2480B search accelerator, against the emulated
// adapter on a pseudo-terminal: which ROMs it finds, that it is one exchange,
// what a garbled answer does, and that readings come out as they do over the
// simulated bus (bit-by-bit search).
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "config/settings.h"
#include "onewire/devices.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/ui.h"
#include "support/fakes.h"
#include "tmex/ds2480b/pty_adapter.h"
#include "tmex/ds2480b/serial_backend.h"
#include "tmex/sim/chips.h"
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/sim_network.h"
#include "tmex/tmex.h"

namespace wx {
namespace {

RomCode Flip(RomCode rom, int bit) {
  rom[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
  return rom;
}

// A small station behind the emulator; the server thread starts on the
// first serial use, so the simulated bus can be used alone before that.
class StrongAccess : public ::testing::Test {
 protected:
  StrongAccess() : net(clock), pty(net) {
    counter = net.AddDs2423(MakeRom(kFamilyDs2423, 0x123456)).rom();
    baro = net.AddDs2438(MakeRom(kFamilyDs2438, 0x123457)).rom();
    // Shares family and most of the serial with the counter's neighbour.
    thermo = net.AddDs18s20(MakeRom(kFamilyDs18s20, 0x123456)).rom();
    // Data bytes that need escaping in data mode.
    vane = net.AddDs2450(MakeRom(kFamilyDs2450, 0xE3E3E3E3E3E3ull)).rom();
    pty.SetReplyFilter([this](std::vector<uint8_t>& r) {
      std::lock_guard<std::mutex> lock(m);
      if (fault) fault(r);
    });
  }
  ~StrongAccess() override {
    stop = true;
    if (server.joinable()) server.join();
  }
  void Serve() {
    if (server.joinable()) return;
    ASSERT_TRUE(pty.Open()) << pty.error();
    server = std::thread([this] {
      while (!stop) pty.Serve(5);
    });
  }
  // Sees (and may change) every answer chunk the emulator sends.
  void SetFault(std::function<void(std::vector<uint8_t>&)> f) {
    std::lock_guard<std::mutex> lock(m);
    fault = std::move(f);
  }
  int32_t SerialSession(Tmex& tmex) {
    const int32_t h = tmex.TMExtendedStartSession(1, 5, nullptr);
    EXPECT_GE(h, 1);
    EXPECT_EQ(tmex.TMSetup(h), 1);
    return h;
  }
  BackendFactory SerialFactory(int timeoutMs = 1000) {
    return [this, timeoutMs](int, int type) -> std::unique_ptr<BusBackend> {
      if (type != 5) return nullptr;
      return std::make_unique<Ds2480bBackend>(pty.slavePath(), timeoutMs);
    };
  }
  static int16_t Strong(Tmex& tmex, int32_t h, const RomCode& rom) {
    std::vector<uint8_t> state(64);
    int16_t words[8];
    for (int i = 0; i < 8; ++i) words[i] = rom[i];
    tmex.TMRom(h, state.data(), words);
    return tmex.TMStrongAccess(h, state.data());
  }

  test::SharedClock clock;  // moves only when the program waits; read by the server thread too
  SimNetwork net;
  Ds2480bPty pty;
  RomCode counter{}, baro{}, thermo{}, vane{};
  std::mutex m;
  std::function<void(std::vector<uint8_t>&)> fault;
  std::atomic<bool> stop{false};
  std::thread server;
};

TEST_F(StrongAccess, FindsExactlyThePresentRomsLikeTheBitBySearch) {
  const std::vector<RomCode> present = {counter, baro, thermo, vane};
  // Absent ROMs: the counter with its serial one higher (shares a long
  // prefix and passes the CRC), each present ROM with its last or first
  // bit flipped, the thermometer's family with the counter's serial end.
  std::vector<RomCode> absent = {MakeRom(kFamilyDs2423, 0x123457), MakeRom(kFamilyDs2423, 0x923456),
                                 MakeRom(kFamilyDs2438, 0x123456)};
  for (const RomCode& r : present) {
    absent.push_back(Flip(r, 63));
    absent.push_back(Flip(r, 0));
    absent.push_back(Flip(r, 40));
  }
  // The simulated bus walks the search bit by bit (the default).
  std::vector<int16_t> bitwise;
  {
    Tmex sim(MakeSimBackendFactory(net));
    const int32_t h = sim.TMExtendedStartSession(static_cast<int16_t>(net.adapterPort()),
                                                 static_cast<int16_t>(net.adapterType()), nullptr);
    ASSERT_EQ(sim.TMSetup(h), 1);
    for (const RomCode& r : present) bitwise.push_back(Strong(sim, h, r));
    for (const RomCode& r : absent) bitwise.push_back(Strong(sim, h, r));
  }
  Serve();
  Tmex tmex(SerialFactory());
  const int32_t h = SerialSession(tmex);
  size_t i = 0;
  for (const RomCode& r : present) {
    EXPECT_EQ(Strong(tmex, h, r), 1) << RomToText(r);
    EXPECT_EQ(bitwise[i++], 1) << RomToText(r);
  }
  for (const RomCode& r : absent) {
    EXPECT_EQ(Strong(tmex, h, r), 0) << RomToText(r);
    EXPECT_EQ(bitwise[i++], 0) << RomToText(r);
  }
  // After a failed search the next selection still works (stream in step).
  EXPECT_EQ(Strong(tmex, h, vane), 1);
}

TEST_F(StrongAccess, TheSearchIsOneExchangeAndLeavesTheAdapterUsable) {
  Serve();
  Ds2480bBackend b(pty.slavePath(), 1000);
  ASSERT_TRUE(b.Open()) << b.LastError();
  ASSERT_EQ(b.Reset(), 1);
  const long trips = b.roundTrips();
  const long sent = b.bytesSent();
  EXPECT_EQ(b.SteeredSearch(vane.data()), 1);
  EXPECT_EQ(b.roundTrips() - trips, 1);
  EXPECT_LE(b.bytesSent() - sent, 24);
  // The adapter is back in command mode with the accelerator off: plain
  // byte traffic (Match ROM with E3 bytes, a read) works after it.
  ASSERT_EQ(b.Reset(), 1);
  EXPECT_EQ(b.TouchByte(0x55), 0x55);
  for (uint8_t x : vane) EXPECT_EQ(b.TouchByte(x), x);
  EXPECT_EQ(b.TouchBit(1), 1);
  EXPECT_FALSE(pty.emulator().InDataMode());
}

TEST_F(StrongAccess, NobodyAnsweringIsNotAMatchEvenForAllOnes) {
  // Chips gone but the search forced anyway: the accelerator's "nobody"
  // answer is all ones, which must not pass for an all-ones ROM.
  for (const RomCode& r : {counter, baro, thermo, vane}) net.Find(r)->SetAbsent(true);
  Serve();
  Ds2480bBackend b(pty.slavePath(), 1000);
  ASSERT_TRUE(b.Open()) << b.LastError();
  EXPECT_EQ(b.Reset(), 0);
  RomCode ones;
  ones.fill(0xFF);
  EXPECT_EQ(b.SteeredSearch(ones.data()), 0);
  RomCode tail = counter;
  tail[6] = tail[7] = 0xFF;
  EXPECT_EQ(b.SteeredSearch(tail.data()), 0);
  EXPECT_EQ(b.Reset(), 0);  // still in step
}

TEST_F(StrongAccess, AGarbledAnswerFailsAndTheNextSessionRecovers) {
  Serve();
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&, size_t)> edit;  // byte index in the answer
    int expect;
  };
  // Answer byte 0 echoes F0; byte 1 + k holds ROM bits 4k..4k+3.
  const std::vector<Case> cases = {
      {"one path bit flipped", [](std::vector<uint8_t>& r, size_t i) { if (i == 16) r[0] ^= 0x80; }, 0},
      {"conflicts that went against the direction sent",
       [](std::vector<uint8_t>& r, size_t i) { if (i >= 1) r[0] = 0x55; }, kTmexErrBadResponse},
      {"search command echoed with a bit set", [](std::vector<uint8_t>& r, size_t i) { if (i == 0) r[0] |= 0x01; },
       kTmexErrBadResponse},
      {"search command echoed with a bit lost", [](std::vector<uint8_t>& r, size_t i) { if (i == 0) r[0] &= 0x7F; },
       0},
      {"last answer byte lost", [](std::vector<uint8_t>& r, size_t i) { if (i == 16) r.clear(); },
       kTmexErrTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Ds2480bBackend b(pty.slavePath(), 1000);  // roomy: a busy machine must not fail Open
    ASSERT_TRUE(b.Open()) << b.LastError();
    ASSERT_EQ(b.Reset(), 1);
    auto seen = std::make_shared<size_t>(0);
    // Answers arrive in chunks; edit them one byte at a time by position.
    SetFault([seen, edit = c.edit](std::vector<uint8_t>& reply) {
      std::vector<uint8_t> out;
      for (uint8_t x : reply) {
        std::vector<uint8_t> one{x};
        edit(one, (*seen)++);
        out.insert(out.end(), one.begin(), one.end());
      }
      reply = out;
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(b.SteeredSearch(vane.data()), c.expect) << b.LastError();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    SetFault(nullptr);
    if (c.expect < 0) {
      EXPECT_EQ(b.Reset(), kTmexErrOutOfStep);
      ASSERT_TRUE(b.Open()) << b.LastError();
    }
    ASSERT_EQ(b.Reset(), 1);
    EXPECT_EQ(b.SteeredSearch(vane.data()), 1);
  }
}

TEST_F(StrongAccess, ReadingsComeOutAsOverTheSimulatedBus) {
  static_cast<Ds2438*>(net.Find(baro))->SetVad(ValueProgram::Constant(4.5));
  static_cast<Ds2438*>(net.Find(baro))->SetTemperature(ValueProgram::Constant(-7.25));
  static_cast<Ds2423*>(net.Find(counter))->SetCounterA(ValueProgram::Constant(98765));
  StationConfig station;
  station.sensorRom[8] = baro;
  station.sensorEnabled[8] = true;
  station.sensorRom[5] = counter;
  station.sensorEnabled[5] = true;
  station.counterPage[5] = 14;
  test::ScriptedUi ui(clock, 25);
  test::RecordingErrors errors;
  int32_t cycle = 100;

  station.adapterPort = static_cast<int16_t>(net.adapterPort());
  station.adapterType = static_cast<int16_t>(net.adapterType());
  VadResult simVad;
  CountResult simCount;
  {
    Tmex sim(MakeSimBackendFactory(net));
    Devices dev(sim, station, clock, ui, errors, cycle);
    simVad = dev.DMLGetVAD(8);
    simCount = dev.DMLGetCount(5, 14);
  }
  ASSERT_EQ(simVad.stepCode, 0);
  EXPECT_FLOAT_EQ(simVad.voltage, 4.5f);
  EXPECT_FLOAT_EQ(simVad.temperature, -7.25f);
  ASSERT_EQ(simCount.stepCode, 0);

  Serve();
  station.adapterPort = 1;
  station.adapterType = 5;
  Tmex tmex(SerialFactory());
  Devices dev(tmex, station, clock, ui, errors, cycle);
  const VadResult vad = dev.DMLGetVAD(8);
  ASSERT_EQ(vad.stepCode, 0) << vad.tmexCode;
  EXPECT_EQ(vad.voltage, simVad.voltage);
  EXPECT_EQ(vad.temperature, simVad.temperature);
  const CountResult count = dev.DMLGetCount(5, 14);
  ASSERT_EQ(count.stepCode, 0);
  EXPECT_EQ(count.count, simCount.count);
  EXPECT_TRUE(errors.errors.empty()) << errors.errors.front();
}

}  // namespace
}  // namespace wx
