// SPDX-License-Identifier: GPL-2.0-or-later
// The chip routines against the simulated network: values, step codes of
// failed sessions and chips, the conversion waits.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "onewire/devices.h"
#include "onewire/owserver_chip_bus.h"
#include "tmex/ds2480b/serial_backend.h"
#include "support/fakes.h"
#include "onewire/sim_station.h"

namespace wx {
namespace {

using PumpingUi = test::ScriptedUi;
using test::RecordingErrors;
using test::SimStation;

class DevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station.adapterPort = 1;
    station.adapterType = 5;
  }
  void Use(int slot, const SimStation::Rom& rom) {
    station.sensorRom[slot] = rom;
    station.sensorEnabled[slot] = true;
  }

  FakeClock clock{46363.5, 1000};
  PumpingUi ui{clock};
  RecordingErrors errors;
  StationConfig station;
  int32_t cycle = 100;
  SimStation sim{clock};
  Tmex tmex{sim.Factory()};
  Devices dev{tmex, station, clock, ui, errors, cycle};
};

TEST_F(DevicesTest, Ds18x20BytesAfterTheConversionWait) {
  Use(0, sim.AddDs18S20(25.5));
  Use(1, sim.AddDs18B20(-10.125));
  const uint32_t before = clock.GetTickCount();
  TtureBytes s = dev.DMLGet1820Tture(0);
  EXPECT_EQ(s.stepCode, 0);
  EXPECT_EQ(s.lsb, 0x33);
  EXPECT_EQ(s.msb, 0x00);
  EXPECT_GT(clock.GetTickCount() - before, 1800u);
  TtureBytes b = dev.DMLGet1820Tture(1);
  EXPECT_EQ(b.stepCode, 0);
  EXPECT_EQ(b.lsb, 0x5E);
  EXPECT_EQ(b.msb, 0xFF);
}

TEST_F(DevicesTest, Ds18x20ScratchpadMustCheckOut) {
  Use(0, sim.AddDs18S20(25.5));
  Use(1, sim.AddDs18B20(20.0));
  // Absent while another chip answers the reset: the select passes, and the
  // line reads all ones.
  sim.Remove(station.sensorRom[0]);
  TtureBytes absent = dev.DMLGet1820Tture(0);
  EXPECT_EQ(absent.stepCode, kScratchpadEmptyCode);
  EXPECT_EQ(absent.tmexCode, 0);
  EXPECT_EQ(absent.lsb, 0);
  EXPECT_EQ(absent.msb, 0);
  // Every bit inverted: $33 $00 would read as $CC $FF (-26 C) but fails its CRC.
  sim.SetBitErrors(station.sensorRom[1], 1.0);
  TtureBytes garbled = dev.DMLGet1820Tture(1);
  EXPECT_EQ(garbled.stepCode, kScratchpadCrcCode);
  EXPECT_EQ(garbled.msb, 0);
  sim.SetBitErrors(station.sensorRom[1], 0.0);
  TtureBytes good = dev.DMLGet1820Tture(1);
  EXPECT_EQ(good.stepCode, 0);
  EXPECT_EQ(good.lsb, 0x40);
  EXPECT_EQ(good.msb, 0x01);
  // With nobody left on the line the select itself fails.
  sim.Remove(station.sensorRom[1]);
  EXPECT_EQ(dev.DMLGet1820Tture(1).stepCode, 40);
}

TEST_F(DevicesTest, Ds2438PageWithABadCrcIsAFailedRead) {
  Use(8, sim.AddDs2438(20.0, 4.0));
  sim.SetBitErrors(station.sensorRom[8], 1.0);
  VadResult r = dev.DMLGetVAD(8);
  EXPECT_EQ(r.stepCode, kScratchpadCrcCode);
  EXPECT_EQ(r.voltage, 999.0f);
  EXPECT_EQ(r.temperature, 999.0f);
  // A conversion that never ends leaves the last values, busy bits set.
  sim.SetBitErrors(station.sensorRom[8], 0.0);
  ASSERT_EQ(dev.DMLGetVAD(8).stepCode, 0);
  sim.SetStuckConversion(station.sensorRom[8], true);
  r = dev.DMLGetVAD(8);
  EXPECT_EQ(r.stepCode, 70);
  EXPECT_EQ(r.voltage, 999.0f);
  dev.ReportDeviceError("During LookAtBaro, PGMErr: ", r.stepCode, r.tmexCode);
  EXPECT_TRUE(errors.Has("During LookAtBaro, PGMErr: 70 and Dallas error 0 (the conversion had not finished: "
                         "status byte $50)"));
}

TEST_F(DevicesTest, Ds2438ThatFallsSilentFailsAtTheSelect) {
  Use(8, sim.AddDs2438(20.0, 4.0));
  Use(5, sim.AddDs2423(1, 2));
  // One reading is six strong selections (the prologue's and one per
  // command), each a search and a match.
  sim.StopAfterAccesses(station.sensorRom[8], 12);
  EXPECT_EQ(dev.DMLGetVAD(8).stepCode, 0);
  // Traffic to the other chip does not use up the DS2438's accesses...
  for (int i = 0; i < 20; ++i) EXPECT_EQ(dev.DMLGetCount(5, 14).stepCode, 0);
  // ...but its own next reading finds it gone.
  VadResult r = dev.DMLGetVAD(8);
  EXPECT_EQ(r.stepCode, 40);
  EXPECT_EQ(r.voltage, 999.0f);
}

TEST_F(DevicesTest, Ds2438TemperatureAndVoltage) {
  Use(8, sim.AddDs2438(-25.4375, 5.00));
  VadResult r = dev.DMLGetVAD(8);
  ASSERT_EQ(r.stepCode, 0);
  EXPECT_FLOAT_EQ(r.temperature, -25.4375f);
  EXPECT_FLOAT_EQ(r.voltage, 5.00f);
}

TEST_F(DevicesTest, Ds2423PagesAndLittleEndianCounter) {
  Use(5, sim.AddDs2423(0x04030201, 1234567890));
  CountResult p14 = dev.DMLGetCount(5, 14);
  EXPECT_EQ(p14.stepCode, 0);
  EXPECT_EQ(p14.count, 0x04030201);
  CountResult p15 = dev.DMLGetCount(5, 15);
  EXPECT_EQ(p15.stepCode, 0);
  EXPECT_EQ(p15.count, 1234567890);
  // Bit 31 of the chip's counter is never taken.
  sim.SetCounter(station.sensorRom[5], 15, 0x80000005u);
  EXPECT_EQ(dev.DMLGetCount(5, 15).count, 5);
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(DevicesTest, NoisyCounterGivesNoFalseCount) {
  // 0.3 % of the bits inverted: the CRC16 over the whole page read turns every
  // garbled count into a failed read at the counter step.
  Use(5, sim.AddDs2423(1200, 0x7FFFFF00));
  sim.SetBitErrors(station.sensorRom[5], 0.003, 5);
  int good = 0, crcFailures = 0;
  for (int i = 0; i < 200; ++i) {
    const CountResult r = dev.DMLGetCount(5, i % 2 ? 15 : 14);
    if (r.stepCode == 0) {
      EXPECT_EQ(r.count, i % 2 ? 0x7FFFFF00 : 1200);
      ++good;
    } else if (r.stepCode == 120 && r.tmexCode == 0) {
      ++crcFailures;
    }
  }
  EXPECT_GT(good, 0);
  EXPECT_GT(crcFailures, 0);
  EXPECT_TRUE(errors.Has("Problem with DMLGetCount 120 and Dallas error 0 (counter CRC16 mismatch)"));
}

TEST_F(DevicesTest, NoAdapterFailsAtTheSessionStep) {
  Use(5, sim.AddDs2423(7, 8));
  Use(8, sim.AddDs2438(20.0, 1.0));
  Use(0, sim.AddDs18B20(20.0));
  sim.SetAdapterAbsent(true);
  CountResult c = dev.DMLGetCount(5, 14);
  EXPECT_EQ(c.stepCode, 10);
  EXPECT_EQ(c.tmexCode, kTmexErrNoBackend);  // the session start's own result
  EXPECT_EQ(c.count, 0);
  EXPECT_TRUE(errors.Has("Problem with DMLGetCount 10 and Dallas error -200"));
  VadResult v = dev.DMLGetVAD(8);
  EXPECT_EQ(v.stepCode, 10);
  EXPECT_EQ(v.voltage, 999.0f);
  EXPECT_EQ(v.temperature, 999.0f);
  const uint32_t before = clock.GetTickCount();
  EXPECT_EQ(dev.DMLGet1820Tture(0).stepCode, 10);
  EXPECT_LT(clock.GetTickCount() - before, 1800u);  // no conversion wait after a failure
  EXPECT_EQ(dev.DMLInit2450ADC(10).stepCode, 40);
  EXPECT_FALSE(dev.session().AdcReady);
}

TEST_F(DevicesTest, AbsentChipFailsAtTheStrongSelect) {
  SimStation::Rom rom = sim.AddDs2423(1, 2);
  Use(6, rom);
  Use(10, sim.AddDs2450({0, 0, 0, 0}));
  sim.Remove(rom);
  sim.Remove(station.sensorRom[10]);
  EXPECT_EQ(dev.DMLGetCount(6, 15).stepCode, 40);
  EXPECT_EQ(dev.DMLInit2450ADC(10).stepCode, 50);
  EXPECT_TRUE(errors.Has("Problem with DML2450Init 50 and Dallas error "));
}

TEST_F(DevicesTest, Ds2450ConvertsAllFourInputsAfterSetUp) {
  Use(10, sim.AddDs2450({0x0000, 0x1200, 0x8000, 0xFF00}));
  ASSERT_EQ(dev.DMLInit2450ADC(10).stepCode, 0);
  EXPECT_TRUE(dev.session().AdcReady);
  const uint32_t before = clock.GetTickCount();
  AdcResult r = dev.DMLGet2540ADC(10);
  ASSERT_EQ(r.stepCode, 0);
  EXPECT_GT(clock.GetTickCount() - before, 55u);
  EXPECT_EQ(r.input[0], 0x0000);
  EXPECT_EQ(r.input[1], 0x1200);
  EXPECT_EQ(r.input[2], 0x8000);
  EXPECT_EQ(r.input[3], 0xFF00);
}

TEST_F(DevicesTest, StuckDs2450ConversionEndsAfter1001PollReads) {
  Use(10, sim.AddDs2450({0x1000, 0x1000, 0x1000, 0x1000}));
  ASSERT_EQ(dev.DMLInit2450ADC(10).stepCode, 0);
  sim.SetStuckConversion(station.sensorRom[10], true);
  const int pumpsBefore = ui.pumps;
  AdcResult r = dev.DMLGet2540ADC(10);
  EXPECT_EQ(r.stepCode, 120);
  EXPECT_EQ(r.tmexCode, 0);
  // 1000 further reads, each after a message pump, plus the 55 ms wait's pumps.
  EXPECT_GE(ui.pumps - pumpsBefore, 1000);
  EXPECT_LE(ui.pumps - pumpsBefore, 1000 + 10);
}

TEST_F(DevicesTest, WaitTicksEndsOnTimeAcrossTheTickWrap) {
  clock.SetTicks(0xFFFFFFFFu - 500);
  dev.WaitTicks(1800);
  // Pumps move 10 ms each: the wait ends at the first reading past 1800 ms.
  EXPECT_EQ(ui.pumps, 181);
  EXPECT_EQ(clock.GetTickCount(), uint32_t(0xFFFFFFFFu - 500 + 1810));
  // Every pump is a sleep until the next message or the time still to go.
  ASSERT_EQ(ui.waitRequests.size(), 181u);
  EXPECT_EQ(ui.waitRequests.front(), 1801u);
  EXPECT_EQ(ui.waitRequests[90], 901u);
  EXPECT_EQ(ui.waitRequests.back(), 1u);
}

TEST_F(DevicesTest, QuitEndsTheConversionWaitsAtOnce) {
  Use(0, sim.AddDs18S20(25.5));
  Use(10, sim.AddDs2450({0x1000, 0x1000, 0x1000, 0x1000}));
  ASSERT_EQ(dev.DMLInit2450ADC(10).stepCode, 0);
  ui.duringWait = [&] {
    if (ui.waitRequests.size() == 3) ui.Terminate();
  };
  uint32_t before = clock.GetTickCount();
  dev.DMLGet1820Tture(0);
  EXPECT_EQ(ui.waitRequests.size(), 3u);
  EXPECT_LE(clock.GetTickCount() - before, 30u);
  // Already quitting: the 55 ms wait and a conversion that never ends take
  // one pump each.
  sim.SetStuckConversion(station.sensorRom[10], true);
  before = clock.GetTickCount();
  const int pumps = ui.pumps;
  dev.DMLGet2540ADC(10);
  EXPECT_LE(ui.pumps - pumps, 2);
  EXPECT_LE(clock.GetTickCount() - before, 20u);
}

TEST_F(DevicesTest, AdapterFaultsNameTheDeviceAndTheReason) {
  Tmex serial(MakeSerialBackendFactory(std::string("/nonexistent/ttyUSB7")));
  Devices d(serial, station, clock, ui, errors, cycle);
  Use(5, sim.AddDs2423(5, 6));
  d.DMLGetCount(5, 14);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0],
            "Problem with DMLGetCount 20 and Dallas error 3 (DS2480B: cannot open /nonexistent/ttyUSB7: "
            "No such file or directory)");
  // A chip fault on a working adapter has nothing to add.
  errors.errors.clear();
  sim.Remove(station.sensorRom[5]);
  dev.DMLGetCount(5, 14);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0].find('('), std::string::npos);
  const std::string denied = OpenFailureText("/nonexistent/ttyUSB7", EACCES);
  EXPECT_EQ(denied.rfind("cannot open /nonexistent/ttyUSB7: Permission denied; ", 0), 0u);
  EXPECT_NE(denied.find("sudo usermod -aG dialout $USER"), std::string::npos);
}

TEST_F(DevicesTest, DeviceHintOnlyDuringTheFirstCycles) {
  cycle = 31;
  dev.ReportDeviceError("During LookAtRain, PGMErr: ", 40, -3);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind("PGM Error 20 / Dallas Error 3 can arise", 0), 0u);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0], "During LookAtRain, PGMErr: 40 and Dallas error -3");
  cycle = 32;
  dev.ReportDeviceError("x ", 1, 2);
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(errors.errors.size(), 2u);
}

TEST_F(DevicesTest, FailedSetUpSwitchesSlot10OffAtTheFirstReading) {
  Use(10, sim.AddDs2450({0, 0, 0, 0}));
  sim.SetAdapterAbsent(true);
  dev.InitDevices();
  EXPECT_FALSE(dev.session().AdcReady);
  // Reported twice: by the set-up routine itself and by the start-up step.
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0], "Problem with DML2450Init 40 and Dallas error -200");
  EXPECT_EQ(errors.errors[1], "40 <PGM error during DMLInit2540ADC. Dallas err:-200");
  EXPECT_TRUE(station.sensorEnabled[10]);
  const size_t boxes = ui.messages.size();
  AdcResult r = dev.DMLGet2540ADC(10);
  EXPECT_EQ(r.stepCode, 10);
  EXPECT_FALSE(station.sensorEnabled[10]);
  EXPECT_TRUE(errors.Has("DMLInit2450ADC must be done before DMLGet2540ADC can be called"));
  ASSERT_EQ(ui.messages.size(), boxes + 1);
  EXPECT_NE(ui.messages.back().find("line u of your WX118ini.txt file\r"), std::string::npos);
}

TEST_F(DevicesTest, NoSetUpWhenSlot10IsDisabled) {
  Use(10, sim.AddDs2450({0, 0, 0, 0}));
  station.sensorEnabled[10] = false;
  sim.SetAdapterAbsent(true);
  dev.InitDevices();
  EXPECT_TRUE(errors.errors.empty());
  EXPECT_TRUE(ui.messages.empty());
}

// owserver's side of the route where no owserver is needed: a port that
// takes connections and never answers, then one where nobody listens.
TEST(OwserverRouteTest, QuitEndsTheWaitAndASilentPortIsUnreachable) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const std::string address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  StationConfig station;
  station.sensorRom[5] = {0x1D, 1, 2, 3, 4, 5, 6, 0};
  test::ScriptedUi ui;
  int waits = 0;
  ui.duringWait = [&] {
    if (++waits == 20) ui.Terminate();
  };
  {
    OwserverChipBus bus(address, station, ui);
    const CounterBytes r = bus.ReadCounter(5, 14);
    EXPECT_EQ(r.stepCode, 120);
    EXPECT_EQ(r.tmexCode, kOwserverQuit);
    EXPECT_EQ(waits, 20);
  }
  ::close(listener);
  test::ScriptedUi patient;
  OwserverChipBus bus(address, station, patient);
  const CounterBytes r = bus.ReadCounter(5, 15);
  EXPECT_EQ(r.stepCode, 10);
  EXPECT_EQ(r.tmexCode, kOwserverUnreachable);
  EXPECT_EQ(bus.LastFault(), " (owserver " + address + " does not answer)");
}

}  // namespace
}  // namespace wx
