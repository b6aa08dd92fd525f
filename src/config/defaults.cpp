// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/settings.h"

namespace wx {

void SetDefaultChannelLabels(PlotConfig& plot) {
  for (int ch = 0; ch < kChannels; ++ch) plot.channelLabel[ch] = std::string(Channel(ch).defaultLabel);
}

float SecondsToDays(int32_t seconds) { return static_cast<float>(seconds / 86400.0); }

void ApplyDefaults(Settings& s) {
  PlotConfig& p = s.plot;
  for (int ch = 0; ch < kChannels; ++ch) {
    p.plotMultiplier[ch] = 10000;
    p.plotOffset[ch] = 0;
    p.barGraphOn[ch] = false;
    p.variousOne1[ch] = 0;
  }
  p.plotMultiplier[11] = p.plotMultiplier[12] = 10;
  p.plotOffset[11] = 1;
  p.plotOffset[12] = 50;
  for (int ch = 0; ch < kChannels; ++ch) p.channelColour[ch] = Channel(ch).defaultColour;

  s.page = PageConfig{};
  s.units = UnitsConfig{};
  s.page.pageIntervalDays = SecondsToDays(0);
  s.page.imageIntervalDays = SecondsToDays(0);
  s.files = FileLocations{};

  s.schemeRect[0] = {WindowRect{0, 0, 696, 370}, WindowRect{0, 342, 696, 83}, WindowRect{0, 249, 696, 270}};
  s.schemeRect[1] = {WindowRect{10, 0, 580, 300}, WindowRect{10, 300, 580, 100}, WindowRect{10, 400, 580, 310}};

  s.station.windTable = 0;
  s.station.windOffset = 9;
  s.AdcLowThreshold = 300;
  s.AdcHighThreshold = 5500;
  s.windSpeedBarDivisor = 150;
}

}  // namespace wx
