// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "tmex/crc.h"
#include "tmex/sim/sim_chip.h"

namespace wx {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(Crc, CheckValuesOfBothChecksums) {
  const auto digits = Bytes("123456789");
  EXPECT_EQ(Crc8(digits.data(), digits.size()), 0xA1);
  EXPECT_EQ(Crc16(digits.data(), digits.size()), 0xBB3D);

  uint8_t rom[8] = {0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA2};
  EXPECT_EQ(Crc8(rom, 7), 0xA2);
  EXPECT_EQ(Crc8(rom, 8), 0);

  uint8_t b20[8] = {0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10};
  EXPECT_EQ(Crc8(b20, 8), 0x1C);
  uint8_t s20[8] = {0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10};
  EXPECT_EQ(Crc8(s20, 8), 0x87);

  // Inverted CRC sent LSB first leaves the residue.
  std::vector<uint8_t> sent = digits;
  sent.push_back(0xC2);
  sent.push_back(0x44);
  EXPECT_EQ(Crc16(sent.data(), sent.size()), kCrc16Residue);

  uint8_t w[4] = {0x55, 0x08, 0x00, 0xC0};
  EXPECT_EQ(Crc16(w, 4), 0x5E90);
  uint8_t next = 0x00;
  EXPECT_EQ(Crc16(&next, 1, 0x0009), 0x06C0);
  uint8_t conv[3] = {0x3C, 0x0F, 0x00};
  EXPECT_EQ(Crc16(conv, 3), 0xFCC5);
  uint8_t cnt[] = {0xA5, 0xDF, 0x01, 0x00, 0x05, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Crc16(cnt, sizeof cnt), 0xE086);
}

TEST(Rom, TextIsCrcFirstFamilyLast) {
  const RomCode r = MakeRom(0x28, 0x0000001A2B3C4DULL);
  EXPECT_EQ(r[0], 0x28);
  EXPECT_EQ(r[1], 0x4D);
  EXPECT_TRUE(RomCrcValid(r));
  const std::string t = RomToText(r);
  ASSERT_EQ(t.size(), 16u);
  EXPECT_EQ(t.substr(14), "28");
  EXPECT_EQ(t.substr(2, 12), "00001A2B3C4D");
  RomCode bad = r;
  bad[7] ^= 1;
  EXPECT_FALSE(RomCrcValid(bad));
}

}  // namespace
}  // namespace wx
