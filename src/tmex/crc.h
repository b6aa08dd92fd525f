// SPDX-License-Identifier: GPL-2.0-or-later
// The two 1-Wire checksums. Both are fed LSB first; a block that ends with
// its own CRC8 gives 0, and CRC16 over data plus the two inverted CRC bytes a
// chip sends (LSB first) gives kCrc16Residue.
#pragma once
#include <cstddef>
#include <cstdint>

namespace wx {

inline constexpr uint16_t kCrc16Residue = 0xB001;

uint8_t Crc8(const uint8_t* data, size_t len, uint8_t crc = 0);
uint16_t Crc16(const uint8_t* data, size_t len, uint16_t crc = 0);

}  // namespace wx
