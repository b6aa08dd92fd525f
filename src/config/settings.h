// SPDX-License-Identifier: GPL-2.0-or-later
// Every configurable value of the program, filled by ApplyDefaults and then by
// the secondary and primary configuration files. Channel numbers 0..12 index
// every per-channel table (channels/channel_table.h).
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "channels/channel_table.h"
#include "config/units.h"
#include "platform/clock.h"
#include "platform/views.h"

namespace wx {

constexpr int kSquashFactor = 10000;
constexpr uint32_t kWindDirColour = 0xFFFF00;
constexpr uint32_t kDayMarkColour = 0xC0C0C0;
constexpr uint32_t kBackgroundColour = 0xFFFFFF;
constexpr const char* kVersionText = "1 Sept 10";

// The station as the primary file "WX118ini.txt" describes it.
struct StationConfig {
  int adapterPort = 0;
  int adapterType = 0;
  std::array<bool, kChannels> sensorEnabled{};
  std::array<std::string, kChannels> sensorIdText{};
  std::array<std::array<uint8_t, 8>, kChannels> sensorRom{};  // byte 0 = family code
  std::array<uint8_t, kChannels> counterPage{};               // 14 or 15 for 5, 6, 7, 11, 12
  uint8_t windTable = 0;                                      // 0..6, letters a..g
  uint8_t windOffset = 9;                                     // 0..15, letters a..p
};

struct PlotConfig {
  std::array<std::string, kChannels> channelLabel{};
  std::array<uint32_t, kChannels> channelColour{};
  std::array<uint16_t, kChannels> plotOffset{};
  std::array<uint16_t, kChannels> plotMultiplier{};
  std::array<bool, kChannels> barGraphOn{};
  std::array<uint8_t, kChannels> variousOne1{};
};

// schemeRect[scheme][window]: scheme 0 = A, 1 = B; window 0 = main,
// 1 = error window, 2 = numeric window.
using SchemeRects = std::array<std::array<WindowRect, 3>, 2>;

struct PageConfig {
  std::string pageFolder = "C:\\";
  std::string pageFileName = "WX118WG.htm";
  int32_t pageIntervalSeconds = 0;
  float pageIntervalDays = 0;
  std::string imageFileName = "WX118WG.jpg";
  int32_t imageIntervalSeconds = 0;
  float imageIntervalDays = 0;
  std::string secondImageCaption;
  std::string secondImageName = "pgmroguenotfound.jpg";
  std::string secondImageAlt = "There is an image here which was not displayed.";
  std::string secondImageWidth = "80";
  std::string pageMessage;
  DateTime pageMessageExpiry = 0;
  // [PhonePage] Index=1: index.html beside the page (current.json is always written).
  bool phonePage = false;
  std::string stationName = "WX118 weather station";  // [PhonePage] Name=
};

struct FileLocations {
  std::string primaryConfig = "WX118ini.txt";
  std::string secondaryConfig = "C:\\WX118\\WX118ini2.txt";
  std::string dataLogPath = "C:/WX18DtLg.txt";
  std::string errorLogPath = "C:/WX18ErLg.txt";
  std::string helpFile = "WX118.hlp";
};

struct Settings {
  StationConfig station;
  PlotConfig plot;
  SchemeRects schemeRect{};
  PageConfig page;
  FileLocations files;
  UnitsConfig units;
  int32_t AdcLowThreshold = 300;
  int32_t AdcHighThreshold = 5500;
  int32_t windSpeedBarDivisor = 150;
};

// The channel captions set before the defaults (and shown at once).
void SetDefaultChannelLabels(PlotConfig& plot);
// Gives every configurable value its default.
void ApplyDefaults(Settings& s);
// Seconds as a single-precision fraction of a day.
float SecondsToDays(int32_t seconds);

}  // namespace wx
