// SPDX-License-Identifier: GPL-2.0-or-later
// The family codes (the first byte of a ROM code) of the chips a station uses.
#pragma once
#include <cstdint>

namespace wx {

inline constexpr uint8_t kFamilyDs18s20 = 0x10;
inline constexpr uint8_t kFamilyDs18b20 = 0x28;
inline constexpr uint8_t kFamilyDs2438 = 0x26;
inline constexpr uint8_t kFamilyDs2423 = 0x1D;
inline constexpr uint8_t kFamilyDs2450 = 0x20;

}  // namespace wx
