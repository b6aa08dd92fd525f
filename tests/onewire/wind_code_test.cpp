// SPDX-License-Identifier: GPL-2.0-or-later
// The table and histogram rules of the wind-direction reader that need no bus.
#include <gtest/gtest.h>

#include "onewire/decoding.h"

namespace wx {
namespace {

TEST(WindCode, TablesGiveTheirPositionAndUnknownCodesGive16) {
  EXPECT_EQ(LookupWindCode("0002", 0), 6);
  EXPECT_EQ(LookupWindCode("2001", 0), 15);
  EXPECT_EQ(LookupWindCode("2002", 1), 1);
  EXPECT_EQ(LookupWindCode("2100", 1), 15);
  EXPECT_EQ(LookupWindCode("2221", 2), 0);
  EXPECT_EQ(LookupWindCode("1111", 2), 7);
  EXPECT_EQ(LookupWindCode("0000", 3), 7);
  // "2220" is row 0 of table d; "2000" is in both a (0) and d (12).
  EXPECT_EQ(LookupWindCode("2220", 3), 0);
  EXPECT_EQ(LookupWindCode("2000", 3), 12);
  EXPECT_EQ(LookupWindCode("2222", 0), 16);
  for (int table = 4; table <= 6; ++table) EXPECT_EQ(LookupWindCode("2000", table), 16) << table;
}

TEST(WindCode, ThresholdsBelongToTheUpperDigit) {
  EXPECT_EQ(QuantiseAdc(299, 300, 5500), '0');
  EXPECT_EQ(QuantiseAdc(300, 300, 5500), '1');
  EXPECT_EQ(QuantiseAdc(5499, 300, 5500), '1');
  EXPECT_EQ(QuantiseAdc(5500, 300, 5500), '2');
  EXPECT_EQ(QuantiseAdc(65280, 300, 5500), '2');
}

TEST(WindCode, EqualTopCountsGoToTheHigherIndexIncluding16) {
  std::array<uint16_t, 17> h{};
  EXPECT_EQ(MostFrequentWindIndex(h), 16);  // all zero: the last bin wins
  h[3] = 5;
  h[9] = 5;
  EXPECT_EQ(MostFrequentWindIndex(h), 9);
  h[16] = 5;
  EXPECT_EQ(MostFrequentWindIndex(h), 16);
  h[0] = 6;
  EXPECT_EQ(MostFrequentWindIndex(h), 0);
}

TEST(Ds2438Decoding, SignAndLowBitsOfTheTemperatureRegister) {
  EXPECT_FLOAT_EQ(DecodeDs2438Temperature(0x90, 0xE6), -25.4375f);
  EXPECT_FLOAT_EQ(DecodeDs2438Temperature(0x00, 0x19), 25.0f);
  // The three low bits are not part of the value.
  EXPECT_FLOAT_EQ(DecodeDs2438Temperature(0x07, 0x19), 25.0f);
  EXPECT_FLOAT_EQ(DecodeDs2438Temperature(0x08, 0x00), 0.03125f);
  EXPECT_FLOAT_EQ(DecodeDs2438Temperature(0xF8, 0xFF), -0.03125f);
  EXPECT_FLOAT_EQ(DecodeDs2438Temperature(0x00, 0x80), -128.0f);
}

}  // namespace
}  // namespace wx
