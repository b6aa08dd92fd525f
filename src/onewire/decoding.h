// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding rules that need no bus: the DS2438 temperature register and the
// wind-direction code tables and average.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace wx {

// A DS2438 temperature register pair in degrees Celsius (1/32 degree steps).
float DecodeDs2438Temperature(uint8_t lsb, uint8_t msb);

// The direction index 0..15 of a four-digit wind code in table 0..3; 16 when
// the code is in no row or the table number selects no table.
uint8_t LookupWindCode(const std::string& code, int table);
// "0", "1" or "2" for one converter input.
char QuantiseAdc(uint16_t value, int32_t low, int32_t high);
// The most frequent index of a histogram (equal counts: the higher index).
uint8_t MostFrequentWindIndex(const std::array<uint16_t, 17>& histogram);

}  // namespace wx
