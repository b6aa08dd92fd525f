// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/crc.h"

namespace wx {

uint8_t Crc8(const uint8_t* data, size_t len, uint8_t crc) {
  for (size_t i = 0; i < len; ++i) {
    uint8_t b = data[i];
    for (int k = 0; k < 8; ++k) {
      const bool mix = (crc ^ b) & 1;
      crc >>= 1;
      if (mix) crc ^= 0x8C;
      b >>= 1;
    }
  }
  return crc;
}

uint16_t Crc16(const uint8_t* data, size_t len, uint16_t crc) {
  for (size_t i = 0; i < len; ++i) {
    uint16_t b = data[i];
    for (int k = 0; k < 8; ++k) {
      const bool mix = (crc ^ b) & 1;
      crc >>= 1;
      if (mix) crc ^= 0xA001;
      b >>= 1;
    }
  }
  return crc;
}

}  // namespace wx
