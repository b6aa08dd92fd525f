// SPDX-License-Identifier: GPL-2.0-or-later
// The serial backend and the pty-served emulator together over a real
// pseudo-terminal: line faults (bad echo, silence, noise, unplug) and the
// recovery of the next session, plus the emulator's master-reset rules.
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "tmex/ds2480b/emulator.h"
#include "tmex/ds2480b/pty_adapter.h"
#include "tmex/ds2480b/serial_backend.h"
#include "tmex/sim/chips.h"
#include "tmex/sim/sim_network.h"
#include "tmex/tmex.h"

namespace wx {
namespace {

// Writes tx to a raw port and collects n answer bytes, waiting at most 5 s.
std::vector<uint8_t> RawExchange(int fd, std::vector<uint8_t> tx, size_t n) {
  EXPECT_EQ(::write(fd, tx.data(), tx.size()), static_cast<ssize_t>(tx.size()));
  std::vector<uint8_t> rx;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  uint8_t buf[64];
  while (rx.size() < n && std::chrono::steady_clock::now() < end) {
    const ssize_t k = ::read(fd, buf, sizeof buf);
    if (k > 0) rx.insert(rx.end(), buf, buf + k);
  }
  return rx;
}

// A station with one DS2423 (no conversions, so a clock that stands still
// is enough) served on a pty by a worker thread.
class Served {
 public:
  Served() : net(clock), pty(net) {
    counter = &net.AddDs2423(MakeRom(kFamilyDs2423, 0x4242));
    counter->SetCounterA(ValueProgram::Constant(0x01020304));
    pty.SetReplyFilter([this](std::vector<uint8_t>& r) {
      std::lock_guard<std::mutex> lock(m);
      if (fault) fault(r);
    });
    Start();
  }
  ~Served() { Stop(); }
  void Start() {
    if (!pty.isOpen()) {
      EXPECT_TRUE(pty.Open()) << pty.error();
    }
    stop = false;
    worker = std::thread([this] {
      while (!stop) pty.Serve(5);
    });
  }
  void Stop() {
    stop = true;
    if (worker.joinable()) worker.join();
  }
  void SetFault(std::function<void(std::vector<uint8_t>&)> f) {
    std::lock_guard<std::mutex> lock(m);
    fault = std::move(f);
  }
  // Waits (bounded) until the server has seen the port open or closed.
  bool AwaitPortOpen(bool open) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pty.portOpen() != open)
      if (std::chrono::steady_clock::now() > end) return false;
      else std::this_thread::yield();
    return true;
  }

  FakeClock clock;
  SimNetwork net;
  Ds2423* counter;
  Ds2480bPty pty;

 private:
  std::mutex m;
  std::function<void(std::vector<uint8_t>&)> fault;
  std::atomic<bool> stop{false};
  std::thread worker;
};

// Match ROM of the counter and Read Memory with Counter of page 14.
int ReadCounter(Ds2480bBackend& b, const RomCode& rom) {
  if (b.Reset() != 1) return -100;
  if (b.TouchByte(0x55) != 0x55) return -101;
  for (uint8_t x : rom)
    if (b.TouchByte(x) != x) return -102;
  for (int x : {0xA5, 0xC0, 0x01})
    if (b.TouchByte(static_cast<uint8_t>(x)) != x) return -103;
  for (int i = 0; i < 32; ++i)
    if (b.TouchByte(0xFF) < 0) return -104;
  int value = 0;
  for (int i = 0; i < 4; ++i) {
    const int v = b.TouchByte(0xFF);
    if (v < 0) return v;
    value |= v << (8 * i);
  }
  return value;
}

TEST(Ds2480bLink, DetectsResetsAndReadsAChipThroughTheEmulator) {
  Served s;
  Ds2480bBackend b(s.pty.slavePath(), 1000);
  ASSERT_TRUE(b.Open()) << b.LastError();
  EXPECT_EQ(ReadCounter(b, s.counter->rom()), 0x01020304);
  // Every call was one write and one answer: bytes counted both ways.
  EXPECT_GT(b.roundTrips(), 40);
  EXPECT_GE(b.bytesReceived(), b.roundTrips());
  b.Close();
  // A second session on the same port works the same (port closed and
  // reopened in between: a power cycle of the adapter).
  ASSERT_TRUE(b.Open()) << b.LastError();
  EXPECT_EQ(ReadCounter(b, s.counter->rom()), 0x01020304);
  b.Close();
  s.Stop();
  EXPECT_GE(s.pty.emulator().masterResets(), 2);
}

TEST(Ds2480bLink, BadEchoFailsTheSessionAndTheNextOneRecovers) {
  Served s;
  Ds2480bBackend b(s.pty.slavePath(), 1000);
  ASSERT_TRUE(b.Open()) << b.LastError();
  ASSERT_EQ(b.Reset(), 1);
  // The line answers a data byte with a bit the master sent as 0.
  s.SetFault([](std::vector<uint8_t>& r) {
    for (uint8_t& x : r) x |= 0x80;
  });
  EXPECT_EQ(b.TouchByte(0x55), kTmexErrBadResponse);
  EXPECT_NE(b.LastError().find("echo"), std::string::npos) << b.LastError();
  // Out of step now: everything fails at once until a new session.
  s.SetFault(nullptr);
  EXPECT_EQ(b.Reset(), kTmexErrOutOfStep);
  EXPECT_EQ(b.TouchBit(1), kTmexErrOutOfStep);
  ASSERT_TRUE(b.Open()) << b.LastError();
  EXPECT_EQ(ReadCounter(b, s.counter->rom()), 0x01020304);
}

TEST(Ds2480bLink, LineGoingSilentMidSessionTimesOutAndRecovers) {
  Served s;
  // A short bound; on a busy machine the first detection may miss it, so
  // the good-line opens may take a few tries.
  Ds2480bBackend b(s.pty.slavePath(), 50);
  auto open = [&b] {
    for (int i = 0; i < 20; ++i)
      if (b.Open()) return true;
    return false;
  };
  ASSERT_TRUE(open()) << b.LastError();
  s.pty.SetAnswering(false);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(b.Reset(), kTmexErrTimeout);
  // Bounded: the call gives up instead of hanging (generous margin).
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_NE(b.LastError().find("timeout"), std::string::npos);
  EXPECT_FALSE(b.Open());  // still silent: detection fails too
  s.pty.SetAnswering(true);
  ASSERT_TRUE(open()) << b.LastError();
  EXPECT_EQ(b.Reset(), 1);
}

TEST(Ds2480bLink, NoiseOnTheLineIsRejectedNotBelieved) {
  Served s;
  Ds2480bBackend b(s.pty.slavePath(), 1000);
  // Garbage in front of every answer: detection sees a wrong read-back.
  s.SetFault([](std::vector<uint8_t>& r) { r.insert(r.begin(), {0x00, 0x5A}); });
  EXPECT_FALSE(b.Open());
  EXPECT_NE(b.LastError().find(s.pty.slavePath()), std::string::npos);
  // A stray byte after a good answer, mid-transaction: it shifts the
  // stream and the master notices at the next echo.
  s.SetFault(nullptr);
  ASSERT_TRUE(b.Open()) << b.LastError();
  ASSERT_EQ(b.Reset(), 1);
  std::atomic<int> strays{1};
  s.SetFault([&strays](std::vector<uint8_t>& r) {
    if (strays-- > 0) r.push_back(0xFF);
  });
  EXPECT_EQ(b.TouchByte(0x55), 0x55);
  EXPECT_EQ(b.TouchByte(0x1D), kTmexErrBadResponse);  // got the stray FF as echo
  // A stray byte between transactions is dropped by the next reset.
  ASSERT_TRUE(b.Open()) << b.LastError();
  strays = 1;
  ASSERT_EQ(b.Reset(), 1);
  EXPECT_EQ(ReadCounter(b, s.counter->rom()), 0x01020304);
}

TEST(Ds2480bLink, GarbageFromTheMasterSideDoesNotWedgeTheEmulator) {
  Served s;
  {
    // Some other program writes junk at the port, mode bytes included.
    const int fd = ::open(s.pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    uint8_t junk[256];
    uint32_t x = 12345;
    for (uint8_t& j : junk) j = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    ASSERT_EQ(::write(fd, junk, sizeof junk), static_cast<ssize_t>(sizeof junk));
    ::tcdrain(fd);
    ::close(fd);
  }
  Ds2480bBackend b(s.pty.slavePath(), 1000);
  ASSERT_TRUE(b.Open()) << b.LastError();
  EXPECT_EQ(ReadCounter(b, s.counter->rom()), 0x01020304);
}

TEST(Ds2480bLink, UnplugFailsFastAndAReplugRecoversWithoutRestart) {
  Served s;
  std::string device = s.pty.slavePath();
  Tmex tmex([&device](int, int type) -> std::unique_ptr<BusBackend> {
    if (type != 5) return nullptr;
    return std::make_unique<Ds2480bBackend>(device, 1000);
  });
  auto session = [&] {
    const int32_t h = tmex.TMExtendedStartSession(1, 5, nullptr);
    if (h < 1) return -1000;
    const int setup = tmex.TMSetup(h);
    const int reset = setup == 1 ? tmex.TMTouchReset(h) : -2000;
    tmex.TMEndSession(h);
    return reset;
  };
  ASSERT_EQ(session(), 1);

  // Unplug in the middle of a session: the open port goes dead.
  const int32_t h = tmex.TMExtendedStartSession(1, 5, nullptr);
  ASSERT_EQ(tmex.TMSetup(h), 1);
  s.Stop();
  s.pty.Close();
  EXPECT_LT(tmex.TMTouchReset(h), 0);
  EXPECT_NE(tmex.BackendOf(h)->LastError().find(device), std::string::npos);
  EXPECT_NE(session(), 1);

  // Replugged: the adapter comes back (as a new port here); the same Tmex
  // and program go on.
  s.Start();
  device = s.pty.slavePath();
  EXPECT_EQ(session(), 1);
  EXPECT_EQ(session(), 1);
}

TEST(Ds2480bLink, AdapterStaysOpenAcrossSessionsUntilAFault) {
  Served s;
  Tmex tmex(MakeSerialBackendFactory(s.pty.slavePath()));
  uint8_t state[16] = {};
  int16_t rom[8];
  for (int i = 0; i < 8; ++i) rom[i] = s.counter->rom()[i];
  auto session = [&] {
    const int32_t h = tmex.TMExtendedStartSession(1, 5, nullptr);
    if (h < 1 || tmex.TMSetup(h) != 1) return -1;
    tmex.TMRom(h, state, rom);
    const int r = tmex.TMStrongAccess(h, state);
    if (r == 1) tmex.TMEndSession(h);
    return r;
  };
  ASSERT_EQ(session(), 1);
  const int resets = s.pty.emulator().masterResets();
  // The next sessions find it open and detected: no master reset, one open.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(session(), 1);
  EXPECT_EQ(s.pty.emulator().masterResets(), resets);
  EXPECT_EQ(s.pty.reopens(), 1);
  // A bad answer fails that session; the next one detects the adapter again.
  s.SetFault([](std::vector<uint8_t>& r) {
    if (!r.empty()) r[0] ^= 0x40;
  });
  EXPECT_NE(session(), 1);
  s.SetFault(nullptr);
  EXPECT_EQ(session(), 1);
  EXPECT_EQ(session(), 1);
  EXPECT_GT(s.pty.emulator().masterResets(), resets);
}

TEST(Ds2480bLink, ClosingThePortPowerCyclesTheAdapter) {
  Served s;
  auto raw = [&] {
    const int fd = ::open(s.pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    EXPECT_TRUE(s.AwaitPortOpen(true));
    return fd;
  };
  auto rawMode = [](int fd) {
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 1;
    ::tcsetattr(fd, TCSANOW, &t);
  };
  int fd = raw();
  rawMode(fd);
  // First byte after power-up only calibrates: C1 then C5 gives one answer;
  // then the master leaves the chip in data mode with SPUD changed.
  EXPECT_EQ(RawExchange(fd, {0xC1, 0xC5}, 1), std::vector<uint8_t>{0xCD});
  EXPECT_EQ(RawExchange(fd, {0x3F, 0x07, 0xE1}, 2), (std::vector<uint8_t>{0x3E, 0x0E}));
  ::close(fd);
  ASSERT_TRUE(s.AwaitPortOpen(false));
  fd = raw();
  rawMode(fd);
  // Powered up again: C1 calibrates (no answer), command mode, SPUD default.
  EXPECT_EQ(RawExchange(fd, {0xC1, 0x07}, 1), std::vector<uint8_t>{0x08});
  ::close(fd);
  EXPECT_GE(s.pty.reopens(), 2);
}

TEST(Ds2480bLink, BaudChangeIsAnsweredAndTheEmulatorKeepsAnswering) {
  Served s;
  const int fd = ::open(s.pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  auto setBaud = [fd](speed_t b) {
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 1;
    ::cfsetispeed(&t, b);
    ::cfsetospeed(&t, b);
    ::tcsetattr(fd, TCSANOW, &t);
  };
  auto exchange = [fd](std::vector<uint8_t> tx, size_t n) { return RawExchange(fd, std::move(tx), n); };
  setBaud(B9600);
  // Calibrate, then RBR = 115200 (code 3): answered 76 at the new rate.
  EXPECT_EQ(exchange({0xC1, 0x77}, 1), std::vector<uint8_t>{0x76});
  setBaud(B115200);
  EXPECT_EQ(s.pty.MasterBaud(), 115200);
  EXPECT_EQ(exchange({0x0F, 0xC5}, 2), (std::vector<uint8_t>{0x06, 0xCD}));
  // A NUL at 4800 baud is a master reset: back to 9600 and calibrating.
  // (Without the reset the C1 would answer CD and the RBR read 06.)
  setBaud(B4800);
  EXPECT_EQ(exchange({0x00, 0xC1, 0x0F}, 1), std::vector<uint8_t>{0x00});
  ::close(fd);
}

// A slot bus with one chip answering presence and reading 1s.
class QuietBus : public SlotBus {
 public:
  int ResetPulse() override { return 1; }
  bool Slot(bool m) override { return m; }
  void SetStrongPullup(bool) override {}
};

TEST(Ds2480bEmulator, FlushThenC1IsAMasterResetButOtherBytesAreNot) {
  QuietBus bus;
  Ds2480bEmulator e(bus);
  std::vector<uint8_t> out;
  auto feed = [&](std::initializer_list<uint8_t> bytes) {
    out.clear();
    for (uint8_t b : bytes) e.Feed(b, out);
    return out;
  };
  feed({0xC1, 0x3F, 0xE1});  // calibrated, SPUD infinite, data mode
  // Flush (the trace of a break) then the mode-leaving bytes and C1: a
  // master reset whose calibration byte gives no answer; defaults are back.
  e.LineFlushed();
  EXPECT_TRUE(feed({0xE3, 0xF1, 0xC1}).empty());
  EXPECT_FALSE(e.InDataMode());
  EXPECT_EQ(feed({0x07}), std::vector<uint8_t>{0x08});
  EXPECT_EQ(e.masterResets(), 1);
  // A flush before an ordinary flexible-speed reset changes nothing.
  e.LineFlushed();
  EXPECT_EQ(feed({0xC5}), std::vector<uint8_t>{0xCD});
  // Without a flush, C1 is a 1-Wire reset at regular speed.
  EXPECT_EQ(feed({0xC1}), std::vector<uint8_t>{0xCD});
  // The flush only counts for the next command: after other traffic C1 answers.
  e.LineFlushed();
  EXPECT_EQ(feed({0x0F, 0xC1}), (std::vector<uint8_t>{0x00, 0xCD}));
  EXPECT_EQ(e.masterResets(), 1);
}

TEST(Ds2480bEmulator, ResetAfterAFlushIsACommandEvenWhenModeBytesWereLost) {
  QuietBus bus;
  Ds2480bEmulator e(bus);
  std::vector<uint8_t> out;
  auto feed = [&](std::initializer_list<uint8_t> bytes) {
    out.clear();
    for (uint8_t b : bytes) e.Feed(b, out);
    return out;
  };
  // Calibrate, search accelerator on, data mode, one search byte: then the
  // master's closing E3 A5 never arrive, it flushes and starts with C5.
  feed({0xC1, 0xB5, 0xE1});
  EXPECT_EQ(feed({0x00}).size(), 1u);
  // A flush the pty reports just after these bytes came before them; the
  // closing bytes themselves and a data byte came before it.
  EXPECT_TRUE(e.StartsAfterFlush({0xC5}));
  EXPECT_TRUE(e.StartsAfterFlush({0xE3, 0xC1}));
  EXPECT_FALSE(e.StartsAfterFlush({0xE3, 0xA5}));
  EXPECT_FALSE(e.StartsAfterFlush({0x00}));
  e.LineFlushed();
  EXPECT_EQ(feed({0xC5}), std::vector<uint8_t>{0xCD});
  EXPECT_FALSE(e.StartsAfterFlush({0xC5}));
  // Search is off again: a data byte is 8 plain slots (echo FF for FF).
  EXPECT_EQ(feed({0xE1, 0xFF}), std::vector<uint8_t>{0xFF});
  // Without a flush the same C5 in data mode is a data byte.
  EXPECT_EQ(feed({0xC5}), std::vector<uint8_t>{0xC5});
}

// digitemp's way of powering a conversion: Convert T as eight single-bit
// commands, the last with the strong pull-up, SPUD infinite, ended by F1.
TEST(Ds2480bEmulator, PowerByteHoldsTheStrongPullupUntilTerminated) {
  FakeClock clock;
  SimNetwork net(clock);
  const RomCode rom = net.AddDs18b20(MakeRom(kFamilyDs18b20, 9)).rom();
  Ds2480bEmulator e(net);
  std::vector<uint8_t> out;
  auto feed = [&](std::vector<uint8_t> bytes) {
    out.clear();
    for (uint8_t b : bytes) e.Feed(b, out);
    return out;
  };
  feed({0xC1});
  ASSERT_EQ(feed({0xC5}), std::vector<uint8_t>{0xCD});
  std::vector<uint8_t> match = {0xE1, 0x55};
  match.insert(match.end(), rom.begin(), rom.end());
  EXPECT_EQ(feed(match).size(), 9u);
  EXPECT_EQ(feed({0xE3, 0x3F, 0x85, 0x85, 0x95, 0x85, 0x85, 0x85, 0x95, 0x87}),
            (std::vector<uint8_t>{0x3E, 0x84, 0x84, 0x97, 0x84, 0x84, 0x84, 0x97, 0x84}));
  EXPECT_TRUE(net.strongPullup());
  EXPECT_TRUE(e.PullupActive());
  EXPECT_EQ(feed({0xF1}), std::vector<uint8_t>{0xEC});
  EXPECT_FALSE(net.strongPullup());
  // With a finite SPUD the pulse ends by itself: bit answer (0: the
  // conversion still runs, the clock has not moved), then pulse answer.
  EXPECT_EQ(feed({0x39, 0x97}), (std::vector<uint8_t>{0x38, 0x94, 0xEC}));
  EXPECT_FALSE(net.strongPullup());
}

// ROM search with the search accelerator, the way serial masters run it:
// reset, F0 as data, accelerator on, 16 bytes of directions, accelerator off.
TEST(Ds2480bEmulator, SearchAcceleratorFindsEveryChipOnceAndSkipsAbsentOnes) {
  FakeClock clock;
  SimNetwork net(clock);
  std::set<RomCode> want;
  for (uint64_t serial : {0x1ull, 0x2ull, 0x800000000000ull, 0x123456ull})
    want.insert(net.AddDs18b20(MakeRom(kFamilyDs18b20, serial)).rom());
  want.insert(net.AddDs2423(MakeRom(kFamilyDs2423, 0x2)).rom());
  net.AddDs2450(MakeRom(kFamilyDs2450, 0x77)).SetAbsent(true);
  Ds2480bEmulator e(net);
  std::vector<uint8_t> out;
  e.Feed(0xC1, out);  // calibration
  std::array<bool, 64> dir{};
  std::set<RomCode> found;
  for (int pass = 0; pass < 10; ++pass) {
    out.clear();
    e.Feed(0xC5, out);
    ASSERT_EQ(out, std::vector<uint8_t>{0xCD});
    std::vector<uint8_t> tx = {0xE1, 0xF0, 0xE3, 0xB5, 0xE1};
    for (int k = 0; k < 16; ++k) {
      uint8_t b = 0;
      for (int j = 0; j < 4; ++j) b |= (dir[4 * k + j] ? 1 : 0) << (2 * j + 1);
      tx.push_back(b);
    }
    tx.insert(tx.end(), {0xE3, 0xA5});
    out.clear();
    for (uint8_t b : tx) e.Feed(b, out);
    ASSERT_EQ(out.size(), 17u);
    ASSERT_EQ(out[0], 0xF0);
    std::array<bool, 64> disc{}, taken{};
    RomCode rom{};
    for (int n = 0; n < 64; ++n) {
      const uint8_t r = out[1 + n / 4];
      disc[n] = (r >> (2 * (n % 4))) & 1;
      taken[n] = (r >> (2 * (n % 4) + 1)) & 1;
      if (taken[n]) rom[n / 8] |= 1 << (n % 8);
    }
    ASSERT_TRUE(RomCrcValid(rom)) << "pass " << pass;
    EXPECT_TRUE(found.insert(rom).second) << "found twice";
    int m = -1;
    for (int n = 63; n >= 0; --n)
      if (disc[n] && !taken[n]) {
        m = n;
        break;
      }
    if (m < 0) break;
    for (int n = 0; n < 64; ++n) dir[n] = n < m ? taken[n] : n == m;
  }
  EXPECT_EQ(found, want);
  EXPECT_FALSE(e.InDataMode());
}

}  // namespace
}  // namespace wx
