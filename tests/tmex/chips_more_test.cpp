// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "helpers.h"

namespace wx {
namespace {

using test::Master;

struct MoreTest : ::testing::Test {
  FakeClock clock;
  SimNetwork net{clock};
  Master m{net};
};

TEST_F(MoreTest, Ds2438TemperatureAndVadBytes) {
  auto& c = net.AddDs2438(MakeRom(0x26, 1));
  c.SetTemperature(ValueProgram::Constant(-25.4375));
  c.SetVad(ValueProgram::Constant(5.0));
  m.Open();
  for (auto cmd : std::vector<std::vector<int>>{{0x4E, 0x00, 0x00}, {0x44}, {0xB4}, {0xB8, 0x00}}) {
    ASSERT_EQ(m.Select(c.rom(), true), 1);
    for (int b : cmd) m.Byte(b);
  }
  ASSERT_EQ(m.Select(c.rom(), true), 1);
  m.Send({0xBE, 0x00});
  auto p = m.Read(9);
  EXPECT_EQ(p[1] & 0xF8, 0x90);
  EXPECT_EQ(p[2], 0xE6);
  EXPECT_EQ(p[3], 0xF4);
  EXPECT_EQ(p[4], 0x01);
  EXPECT_EQ(test::Crc8Of(p), 0);
}

TEST_F(MoreTest, Ds2450WriteReadBackAndConvertBusy) {
  auto& c = net.AddDs2450(MakeRom(0x20, 1));
  c.SetVane(ValueProgram::Constant(6), 0);  // "0002"
  m.Open();
  ASSERT_EQ(m.Select(c.rom(), true), 1);
  m.Send({0x55, 0x08, 0x00, 0xC0});
  EXPECT_EQ(m.Read(3), (std::vector<uint8_t>{0x6F, 0xA1, 0xC0}));
  m.Send({0x00});
  EXPECT_EQ(m.Read(3), (std::vector<uint8_t>{0x3F, 0xF9, 0x00}));
  ASSERT_EQ(m.Select(c.rom(), true), 1);
  m.Send({0x3C, 0x0F, 0x00});
  EXPECT_EQ(m.Read(2), (std::vector<uint8_t>{0x3A, 0x03}));
  EXPECT_EQ(m.Byte(0xFF), 0x00);
  clock.AdvanceMs(10);
  EXPECT_EQ(m.Byte(0xFF), 0xFF);
  ASSERT_EQ(m.Select(c.rom(), true), 1);
  m.Send({0xAA, 0x00, 0x00});
  auto r = m.Read(10);
  std::vector<uint8_t> all = {0xAA, 0x00, 0x00};
  all.insert(all.end(), r.begin(), r.end());
  EXPECT_EQ(test::Crc16Of(all), kCrc16Residue);
  EXPECT_LT(r[1] << 8 | r[0], 300);
  EXPECT_GE(r[7] << 8 | r[6], 5500);
}

TEST_F(MoreTest, FaultsStuckAndBitErrors) {
  auto& t = net.AddDs18b20(MakeRom(0x28, 1));
  t.SetStuckConversion(true);
  auto& u = net.AddDs18b20(MakeRom(0x28, 2));
  u.SetBitErrors(0.5, 3);
  m.Open();
  ASSERT_EQ(m.Select(t.rom()), 1);
  m.Send({0x44});
  clock.AdvanceMs(5000);
  EXPECT_EQ(m.Byte(0xFF), 0x00);
  ASSERT_EQ(m.Select(u.rom()), 1);
  m.Send({0xBE});
  EXPECT_NE(test::Crc8Of(m.Read(9)), 0);
}

}  // namespace
}  // namespace wx
