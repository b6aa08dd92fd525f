// SPDX-License-Identifier: GPL-2.0-or-later
// Per-channel run-time state shared by the readers, the chart and the replay.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "channels/channel_table.h"

namespace wx {

struct ChannelState {
  std::array<float, 5> LatestTture{999.0f, 999.0f, 999.0f, 999.0f, 999.0f};
  std::array<int32_t, kChannels> ChannelReadCount{};
  std::array<bool, kChannels> ChannelLogged{};
  // Outcome of the latest rsTTureR: 0 decoded, 1 DS18x20 read failed, 3 DS18x20
  // gave 85, 4 DS2438 read failed, 6 DS2438 gave 85.
  uint8_t TtureReadStatus = 0;
  // A temperature too large for the record field was reported (per channel
  // 0..4), so that it is said once until the channel logs again.
  std::array<bool, 5> TtureOutOfRangeReported{};
  std::array<int32_t, kChannels> CountLatest{};      // counters and on/off, by channel number
  std::array<int32_t, kChannels> CountLastLogged{};
  // On/off channels, index 1 and 2 (0 unused).
  std::array<int32_t, 3> OnOffPrevious{};
  std::array<bool, 3> OnOffHasPrevious{};
  std::array<bool, 3> OnOffChanged{};
  // Wind direction.
  std::array<uint16_t, 17> WindHistogram{};
  uint16_t WindReadCount = 0;
  uint8_t WindIndex = 0;
  uint8_t WindDialDir = 0;
  std::string WindCode;
  // Pressure and humidity.
  float rsBaroLatest = 0, rsHumLatest = 0;
  int16_t BaroHundredths = 0, HumHundredths = 0;
  uint8_t ReadingFault = 0;
};

}  // namespace wx
