// SPDX-License-Identifier: GPL-2.0-or-later
// The channel readers the measurement cycle calls: each reads its chip, shows
// the value on the numeric window, plots it at the newest chart column and,
// by its own rule, appends a record to the data log.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "channels/channel_state.h"
#include "onewire/decoding.h"
#include "onewire/devices.h"
#include "channels/reading_observer.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/ui.h"
#include "platform/views.h"

namespace wx {

class StripChart;
class WindDial;
class DataLog;

// rsTTureR results that are not temperatures.
constexpr float kTtureNoReading = 255.0f;
constexpr float kTtureRogue85 = 254.0f;

class Readers {
 public:
  Readers(Settings& settings, ChannelState& state, Devices& devices, StripChart& chart, WindDial& dial,
          DataLog& dataLog, NumericView& numeric, ErrorSink& errors, const Clock& clock, Ui& ui,
          const bool& ShowCelsius);

  // Degrees Celsius, or kTtureNoReading / kTtureRogue85.
  float rsTTureR(int slot);
  void ReadTtureChannel(int k);
  void LookAtWindSpeed();
  void LookAtRain();
  void LookLightning();
  void LookOnOff(int channel);
  void LookAtBaro();
  void LookAtHum();
  void LookAtWindDir();
  void PublishWindAverage(int column);
  // The shown and plotted part of the average: most frequent direction,
  // laWDa, the chart pixels at column, and the histogram cleared.
  void WindAverageSummary(int column);

  // Every successful reading, once, as it is taken.
  ReadingAnnouncer readings;

 private:
  void Announce(int channel, double raw, bool average = false);
  void LookAtCounter(int slot, LabelView& label, int32_t rise, int32_t period,
                     const std::string& prefix);
  void LookAtAnalog(int slot, float& voltage, int16_t& hundredths, const std::string& prefix,
                    const char* negativeMessage, const char* highMessage, LabelView& label,
                    int32_t period);
  void Append(int channel, const std::string& record);

  Settings& settings_;
  ChannelState& state_;
  Devices& devices_;
  StripChart& chart_;
  WindDial& dial_;
  DataLog& dataLog_;
  NumericView& numeric_;
  ErrorSink& errors_;
  const Clock& clock_;
  Ui& ui_;
  const bool& showCelsius_;
};

}  // namespace wx
