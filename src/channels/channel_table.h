// SPDX-License-Identifier: GPL-2.0-or-later
// What each of the thirteen channels is, said once: every per-channel rule
// (which chip it reads, how its record looks, what the outputs call it) is
// read from this table. Channel numbers 0..12 index every per-channel array:
// 0-4 temperatures T0-T4, 5 rain, 6 wind speed, 7 lightning, 8 pressure,
// 9 humidity, 10 wind direction, 11 and 12 on/off.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "tmex/families.h"

namespace wx {

constexpr int kChannels = 13;

enum class ChannelKind : uint8_t {
  Temperature,    // DS18S20, DS18B20 or the DS2438's own sensor; degrees Celsius
  Counter,        // a DS2423 counter that only grows: rain, wind speed, lightning
  OnOff,          // a DS2423 counter read as a level change
  Analog,         // a DS2438 voltage in hundredths of a volt: pressure, humidity
  WindDirection,  // the DS2450 on the vane; the direction index 0..16
};

struct ChannelInfo {
  ChannelKind kind;
  std::string_view tag;          // the data log record's first two characters
  std::size_t recordLength;      // of a whole record of this channel
  std::string_view name;         // the short name of the new outputs ("rain")
  std::string_view displayName;  // the caption a person reads ("Rain")
  std::string_view rawUnit;      // the unit the data log holds the value in
  std::array<uint8_t, 3> families;  // accepted chip family codes; 0 = none
  uint8_t counterPage;           // the DS2423 page read by default; 0 = no counter
  uint32_t defaultColour;        // 0xRRGGBB on the chart
  std::string_view defaultLabel;  // the chart caption before the secondary file
};

// The DS2423 page a "z" in the primary file picks instead of the default.
inline constexpr uint8_t kOtherCounterPage = 15;

inline constexpr std::size_t kTemperatureRecordLength = 15;
inline constexpr std::size_t kCounterRecordLength = 19;
inline constexpr std::size_t kAnalogRecordLength = 14;
inline constexpr std::size_t kWindRecordLength = 44;

namespace channel_table_detail {
constexpr std::array<uint8_t, 3> kThermometers{kFamilyDs18s20, kFamilyDs18b20, kFamilyDs2438};
constexpr std::array<uint8_t, 3> kCounterChip{kFamilyDs2423, 0, 0};
constexpr std::array<uint8_t, 3> kBatteryMonitor{kFamilyDs2438, 0, 0};
constexpr std::array<uint8_t, 3> kConverter{kFamilyDs2450, 0, 0};
constexpr ChannelInfo Temperature(std::string_view tag, std::string_view name, uint32_t colour,
                                  std::string_view label) {
  return {ChannelKind::Temperature, tag, kTemperatureRecordLength, name, name, "°C", kThermometers, 0, colour,
          label};
}
}  // namespace channel_table_detail

inline constexpr std::array<ChannelInfo, kChannels> kChannelTable = [] {
  using namespace channel_table_detail;
  return std::array<ChannelInfo, kChannels>{{
      Temperature("t0", "T0", 0x0000FF, "T0 "),
      Temperature("t1", "T1", 0x0051FF, "T1 "),
      Temperature("t2", "T2", 0x0076FF, "T2 "),
      Temperature("t3", "T3", 0x00A0FF, "T3 "),
      Temperature("t4", "T4", 0x00D5FF, "T4 "),
      {ChannelKind::Counter, "rf", kCounterRecordLength, "rain", "Rain", "count", kCounterChip, 14, 0xFF0000, "RF"},
      {ChannelKind::Counter, "ws", kCounterRecordLength, "wind_speed", "Wind speed", "count", kCounterChip, 14,
       0xFF00FF, "WS"},
      {ChannelKind::Counter, "lt", kCounterRecordLength, "lightning", "Lightning", "count", kCounterChip, 14,
       0x00FF00, "LT"},
      {ChannelKind::Analog, "bp", kAnalogRecordLength, "pressure", "Pressure", "V/100", kBatteryMonitor, 0,
       0x008000, "BP"},
      {ChannelKind::Analog, "hm", kAnalogRecordLength, "humidity", "Humidity", "V/100", kBatteryMonitor, 0,
       0x000080, "HM"},
      {ChannelKind::WindDirection, "wd", kWindRecordLength, "wind_direction", "Wind direction", "index",
       kConverter, 0, 0x000000, ""},
      {ChannelKind::OnOff, "b1", kCounterRecordLength, "onoff1", "On/off 1", "count", kCounterChip, 14, 0x808000,
       "OnOff1"},
      {ChannelKind::OnOff, "b2", kCounterRecordLength, "onoff2", "On/off 2", "count", kCounterChip, 14, 0x0000FF,
       "OnOff2"},
  }};
}();

// The row of a channel number; callers check the range first (IsChannel).
constexpr bool IsChannel(int channel) { return channel >= 0 && channel < kChannels; }
constexpr const ChannelInfo& Channel(int channel) { return kChannelTable[static_cast<std::size_t>(channel)]; }

// A DS2423 channel: counters and on/off channels alike.
constexpr bool ReadsCounter(int channel) { return IsChannel(channel) && Channel(channel).counterPage != 0; }
constexpr bool IsKind(int channel, ChannelKind kind) { return IsChannel(channel) && Channel(channel).kind == kind; }

constexpr bool AcceptsFamily(int channel, uint8_t family) {
  if (!IsChannel(channel) || family == 0) return false;
  for (uint8_t f : Channel(channel).families)
    if (f == family) return true;
  return false;
}

// The channel whose records carry this tag; nullopt for comments, start and
// offset records, headers and anything else.
constexpr std::optional<int> ChannelOfTag(std::string_view tag) {
  // Looked up once per line of a log: compared by hand, not through memcmp.
  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string_view t = Channel(ch).tag;
    bool same = t.size() == tag.size();
    for (size_t i = 0; same && i < t.size(); ++i) same = t[i] == tag[i];
    if (same) return ch;
  }
  return std::nullopt;
}

// The short name's channel ("rain" is 5); nullopt for any other text.
constexpr std::optional<int> ChannelOfName(std::string_view name) {
  for (int ch = 0; ch < kChannels; ++ch)
    if (Channel(ch).name == name) return ch;
  return std::nullopt;
}

// The 60-slot plan: what each 800 ms tick of a minute does, in order. A read
// task reads its channel when the channel is enabled.
enum class SlotTask : uint8_t {
  None,
  Read,            // the channel's reader
  WindAverage,     // the wind direction's average record and summary (channel 10)
  CyclesComment,   // the cycle count comment, every 2000th cycle
  PageMessageCheck,  // the page message's expiry
};

struct SlotStep {
  SlotTask task = SlotTask::None;
  int8_t channel = -1;
};

constexpr int kSlots = 60;
constexpr int kStepsPerSlot = 3;
using SlotPlan = std::array<std::array<SlotStep, kStepsPerSlot>, kSlots>;

inline constexpr SlotPlan kSlotPlan = [] {
  SlotPlan plan{};
  auto read = [](int ch) { return SlotStep{SlotTask::Read, static_cast<int8_t>(ch)}; };
  // Temperatures at slot 4 of each ten, after the humidity at slot 4 itself.
  constexpr int kTemperatureAt4[6] = {-1, 1, 2, 0, 3, 4};
  for (int slot = 0; slot < kSlots; ++slot) {
    const int units = slot % 10;
    const int tens = slot / 10;
    auto& s = plan[static_cast<std::size_t>(slot)];
    switch (units) {
      case 0:
        s[0] = read(6);
        if (slot == 0) s[1] = SlotStep{SlotTask::CyclesComment, -1};
        break;
      case 1:
        if (tens != 0) s[0] = read(tens == 3 ? 9 : 8);
        break;
      case 2:
        if (tens == 0) {
          s[0] = read(0);
          s[1] = SlotStep{SlotTask::PageMessageCheck, -1};
        } else {
          s[0] = read(tens == 3 ? 7 : 10);
        }
        break;
      case 3:
        if (tens == 0) {
          s[0] = read(7);
          s[1] = read(11);
          s[2] = read(12);
        }
        break;
      case 4:
        s[0] = read(tens == 0 ? 9 : kTemperatureAt4[tens]);
        break;
      case 7:
        s[0] = read(5);
        break;
      case 9:
        s[0] = SlotStep{SlotTask::WindAverage, 10};
        break;
      default:  // 5, 6, 8
        s[0] = read(10);
        break;
    }
  }
  return plan;
}();

}  // namespace wx
