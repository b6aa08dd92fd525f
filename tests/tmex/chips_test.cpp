// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "helpers.h"

namespace wx {
namespace {

using test::Master;

struct ChipTest : ::testing::Test {
  FakeClock clock;
  SimNetwork net{clock};
  Master m{net};
};

TEST_F(ChipTest, Ds18b20PowerOnValueThenConversionInRealTime) {
  auto& t = net.AddDs18b20(MakeRom(0x28, 0x42));
  t.SetTemperature(ValueProgram::Constant(25.0625));
  m.Open();
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0xBE});
  EXPECT_EQ(m.Read(9), (std::vector<uint8_t>{0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C}));

  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0x44});
  EXPECT_EQ(m.Byte(0xFF), 0x00);  // busy
  clock.AdvanceMs(700);
  EXPECT_EQ(m.Byte(0xFF), 0x00);
  // A scratchpad read while converting still shows the power-on value.
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0xBE});
  EXPECT_EQ(m.Read(2), (std::vector<uint8_t>{0x50, 0x05}));
  clock.AdvanceMs(60);
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0xBE});
  auto pad = m.Read(9);
  EXPECT_EQ(pad[0], 0x91);
  EXPECT_EQ(pad[1], 0x01);
  EXPECT_EQ(test::Crc8Of(pad), 0);
  EXPECT_EQ(m.Byte(0xFF), 0xFF);  // past the CRC: 1s
}

TEST_F(ChipTest, Ds18b20ResolutionSetsTimeAndMasksLowBits) {
  auto& t = net.AddDs18b20(MakeRom(0x28, 0x43));
  t.SetTemperature(ValueProgram::Constant(-10.125));
  m.Open();
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0x4E, 0x11, 0x22, 0x1F});  // 9-bit
  EXPECT_EQ(t.ConversionUs(), 93750u);
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0x44});
  clock.AdvanceMs(94);
  EXPECT_EQ(m.Byte(0xFF), 0xFF);
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0xBE});
  auto pad = m.Read(9);
  // -10.125 = FF5E; 9 bits keep it to the half degree (low 3 bits 0).
  EXPECT_EQ(pad[0], 0x58);
  EXPECT_EQ(pad[1], 0xFF);
  EXPECT_EQ(pad[2], 0x11);
  EXPECT_EQ(pad[3], 0x22);
  EXPECT_EQ(pad[4], 0x1F);
  EXPECT_EQ(test::Crc8Of(pad), 0);
}

TEST_F(ChipTest, Ds18s20HalfDegreeAndCountRemain) {
  auto& t = net.AddDs18s20(MakeRom(0x10, 0x44));
  t.SetTemperature(ValueProgram::Constant(-25.0));
  m.Open();
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0xBE});
  EXPECT_EQ(m.Read(9), (std::vector<uint8_t>{0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x87}));
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0x44});
  clock.AdvanceMs(1800);
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0xBE});
  auto pad = m.Read(9);
  EXPECT_EQ(pad[0], 0xCE);
  EXPECT_EQ(pad[1], 0xFF);
  const int raw = static_cast<int16_t>(pad[0] | pad[1] << 8);
  const double extended = (raw & ~1) / 2.0 - 0.25 + (16.0 - pad[6]) / 16.0;
  EXPECT_DOUBLE_EQ(extended, -25.0);
  EXPECT_EQ(test::Crc8Of(pad), 0);
}

TEST_F(ChipTest, Ds18x20FollowsItsProgramOverTime) {
  auto& t = net.AddDs18b20(MakeRom(0x28, 0x45));
  t.SetTemperature(ValueProgram::Ramp(10.0, 2.0));  // +2 C per hour
  m.Open();
  clock.AdvanceMs(3600 * 1000);
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0x44});
  clock.AdvanceMs(750);
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0xBE});
  auto pad = m.Read(2);
  EXPECT_NEAR((pad[0] | pad[1] << 8) / 16.0, 12.0, 0.07);
}

TEST_F(ChipTest, Ds2423CounterLsbFirstWithCrcResidue) {
  auto& c = net.AddDs2423(MakeRom(0x1D, 0x99));
  c.SetCounterA(ValueProgram::Constant(5));
  c.SetCounterB(ValueProgram::Constant(0x84030201));
  m.Open();
  ASSERT_EQ(m.Select(c.rom(), true), 1);
  m.Send({0xA5, 0xDF, 0x01});
  auto rx = m.Read(11);
  EXPECT_EQ(rx, (std::vector<uint8_t>{0x00, 0x05, 0, 0, 0, 0, 0, 0, 0, 0x79, 0x1F}));

  // Page 15 from its first byte, as the station reads it: 32 data bytes,
  // counter, 4 zeros, CRC over command, address and all of that.
  ASSERT_EQ(m.Select(c.rom(), true), 1);
  m.Send({0xA5, 0xE0, 0x01});
  rx = m.Read(42);
  std::vector<uint8_t> counter(rx.begin() + 32, rx.begin() + 36);
  EXPECT_EQ(counter, (std::vector<uint8_t>{0x01, 0x02, 0x03, 0x84}));
  std::vector<uint8_t> all = {0xA5, 0xE0, 0x01};
  all.insert(all.end(), rx.begin(), rx.end());
  EXPECT_EQ(test::Crc16Of(all), kCrc16Residue);
  EXPECT_EQ(m.Byte(0xFF), 0xFF);  // no page after 15
}

TEST_F(ChipTest, Ds2423CountsFollowRateAndNeverGoDown) {
  auto& c = net.AddDs2423(MakeRom(0x1D, 0x9A));
  // A program that falls back must not make the counter fall.
  c.SetCounterA(ValueProgram::Steps({{0, 100}, {60, 250}, {120, 40}}));
  c.SetCounterB(ValueProgram::Ramp(0, 3600));  // one count per second
  m.Open();
  auto read = [&](int lo) {
    EXPECT_EQ(m.Select(c.rom(), true), 1);
    m.Send({0xA5, lo, 0x01});
    auto rx = m.Read(11);
    return static_cast<uint32_t>(rx[1] | rx[2] << 8 | rx[3] << 16 | rx[4] << 24);
  };
  EXPECT_EQ(read(0xDF), 100u);
  clock.AdvanceMs(61000);
  EXPECT_EQ(read(0xDF), 250u);
  EXPECT_EQ(read(0xFF), 61u);
  clock.AdvanceMs(61000);
  EXPECT_EQ(read(0xDF), 250u);
  EXPECT_EQ(read(0xFF), 122u);
}

TEST_F(ChipTest, Ds2423ReadingOnGivesNextPageWithItsOwnCrc) {
  auto& c = net.AddDs2423(MakeRom(0x1D, 0x9B));
  c.SetCounterA(ValueProgram::Constant(7));
  c.SetMemory(0x1C0, 0xAB);
  m.Open();
  ASSERT_EQ(m.Select(c.rom()), 1);
  m.Send({0xA5, 0xBF, 0x01});  // last byte of page 13
  auto first = m.Read(11);
  std::vector<uint8_t> cover = {0xA5, 0xBF, 0x01};
  cover.insert(cover.end(), first.begin(), first.end());
  EXPECT_EQ(test::Crc16Of(cover), kCrc16Residue);
  auto next = m.Read(42);
  EXPECT_EQ(next[0], 0xAB);
  EXPECT_EQ(next[32], 7);
  EXPECT_EQ(test::Crc16Of(next), kCrc16Residue);
}

}  // namespace
}  // namespace wx
