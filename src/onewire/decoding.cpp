// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding rules that need no bus: the DS2438 temperature register and the
// wind-direction code tables.
#include "onewire/decoding.h"

namespace wx {

namespace {

constexpr const char* kWindCodeTables[4][16] = {
    {"2000", "2200", "0200", "0220", "0020", "0022", "0002", "1002", "1000", "1100", "0100", "0110",
     "0010", "0011", "0001", "2001"},
    {"2000", "2002", "0002", "0022", "0020", "0220", "0200", "1200", "1000", "1001", "0001", "0011",
     "0010", "0110", "0100", "2100"},
    {"2221", "2222", "1222", "1221", "1211", "1212", "1112", "1111", "1121", "1122", "2122", "2121",
     "2111", "2112", "2212", "2211"},
    {"2220", "2222", "0222", "0220", "0200", "0202", "0002", "0000", "0020", "0022", "2022", "2020",
     "2000", "2002", "2202", "2200"},
};

}  // namespace

float DecodeDs2438Temperature(uint8_t lsb, uint8_t msb) {
  uint32_t t = (uint32_t(msb) << 8) + (lsb & 0xF8u);
  float sign = 1.0f;
  if (t > 0x7FFF) {
    sign = -1.0f;
    t = ((t ^ 0xFFFFu) + 1) & 0xFFFFu;
  }
  return sign * float(t) / 256.0f;
}

uint8_t LookupWindCode(const std::string& code, int table) {
  if (table < 0 || table > 3) return 16;
  for (uint8_t i = 0; i < 16; ++i)
    if (code == kWindCodeTables[table][i]) return i;
  return 16;
}

char QuantiseAdc(uint16_t value, int32_t low, int32_t high) {
  if (int32_t(value) < low) return '0';
  if (int32_t(value) < high) return '1';
  return '2';
}

uint8_t MostFrequentWindIndex(const std::array<uint16_t, 17>& histogram) {
  uint8_t m = 0;
  for (uint8_t i = 1; i <= 16; ++i)
    if (histogram[i] >= histogram[m]) m = i;
  return m;
}

}  // namespace wx
