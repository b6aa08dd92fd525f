// SPDX-License-Identifier: GPL-2.0-or-later
// The serial backend against the emulator over a real pseudo-terminal.
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

#include "tmex/ds2480b/emulator.h"
#include "tmex/ds2480b/serial_backend.h"

namespace wx {
namespace {

// One chip that answers presence and drives a fixed byte pattern on reads.
class FakeBus : public SlotBus {
 public:
  bool present = true;
  uint8_t drive = 0xA5;
  int bit = 0;
  bool pullup = false;
  int ResetPulse() override {
    bit = 0;
    return present ? 1 : 0;
  }
  bool Slot(bool m) override {
    bool out = (drive >> (bit++ % 8)) & 1;
    return m && out;
  }
  void SetStrongPullup(bool on) override { pullup = on; }
};

class Pty {
 public:
  explicit Pty(bool answer) : emu_(bus) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master_);
    unlockpt(master_);
    path = ptsname(master_);
    thread_ = std::thread([this, answer] {
      std::vector<uint8_t> out;
      while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN)) continue;
        uint8_t buf[64];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) continue;
        out.clear();
        for (ssize_t i = 0; i < n; ++i) emu_.Feed(buf[i], out);
        if (answer && !out.empty()) (void)!write(master_, out.data(), out.size());
      }
    });
  }
  ~Pty() {
    stop_ = true;
    thread_.join();
    close(master_);
  }
  FakeBus bus;
  std::string path;

 private:
  Ds2480bEmulator emu_;
  int master_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(Ds2480bPty, DetectsResetsAndExchanges) {
  Pty pty(true);
  Ds2480bBackend b(pty.path, 2000);  // a good line: the bound only matters on a fault
  ASSERT_TRUE(b.Open()) << b.LastError();
  EXPECT_EQ(b.Reset(), 1);
  EXPECT_EQ(b.TouchByte(0xFF), 0xA5);
  EXPECT_EQ(b.TouchByte(0xE3), 0xA5 & 0xE3);  // escaped data byte
  EXPECT_EQ(b.TouchBit(1), 1);                 // bit 0 of 0xA5 after 16 slots
  EXPECT_EQ(b.SetLevel(1, true), 1);
  EXPECT_EQ(b.TouchByte(0xFF), 0xD2);  // slots 17..24: 0xA5 rotated by one
  EXPECT_TRUE(pty.bus.pullup);
  EXPECT_EQ(b.SetLevel(0, false), 0);
  EXPECT_FALSE(pty.bus.pullup);
  pty.bus.present = false;
  EXPECT_EQ(b.Reset(), 0);
}

TEST(Ds2480bPty, SilentLineFailsWithinTimeoutAndNamesDevice) {
  Pty pty(false);
  Ds2480bBackend b(pty.path, 50);
  EXPECT_FALSE(b.Open());
  EXPECT_NE(b.LastError().find(pty.path), std::string::npos);
  EXPECT_LT(b.Reset(), 0);
}

TEST(Ds2480bPty, MissingDeviceFailsAndFactoryOnlyForType5) {
  Ds2480bBackend b("/nonexistent/tty", 50);
  EXPECT_FALSE(b.Open());
  EXPECT_NE(b.LastError().find("/nonexistent/tty"), std::string::npos);
  auto f = MakeSerialBackendFactory(std::string("/dev/null"));
  EXPECT_EQ(f(1, 1), nullptr);
  EXPECT_NE(f(1, 5), nullptr);
}

TEST(Ds2480bResolver, PortDigitMapsToUsbThenSerial) {
  auto usb0 = [](const std::string& p) { return p == "/dev/ttyUSB0"; };
  EXPECT_EQ(ResolveSerialDevice(1, std::nullopt, usb0), "/dev/ttyUSB0");
  EXPECT_EQ(ResolveSerialDevice(2, std::nullopt, usb0), "/dev/ttyS1");
  EXPECT_EQ(ResolveSerialDevice(0, std::nullopt, usb0), "/dev/ttyUSB0");
  EXPECT_EQ(ResolveSerialDevice(3, std::string("/dev/x"), usb0), "/dev/x");
}

TEST(Ds2480bEmulator, ConfigReadBackAndResetResponses) {
  FakeBus bus;
  Ds2480bEmulator e(bus);
  std::vector<uint8_t> out;
  for (uint8_t c : {0xC1, 0x17, 0x45, 0x5B, 0x3F, 0x0F, 0x07, 0xC5}) e.Feed(c, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x16, 0x44, 0x5A, 0x3E, 0x00, 0x0E, 0xCD}));
  bus.present = false;
  out.clear();
  e.Feed(0xC5, out);
  EXPECT_EQ(out, std::vector<uint8_t>{0xCF});
}

}  // namespace
}  // namespace wx
