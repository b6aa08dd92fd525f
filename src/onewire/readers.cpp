// SPDX-License-Identifier: GPL-2.0-or-later
#include "onewire/readers.h"

#include <cmath>
#include <cstdio>

#include "channels/channel_table.h"
#include "datalog/data_log.h"
#include "datalog/records.h"
#include "datalog/stamps.h"
#include "graph/strip_chart.h"
#include "graph/wind_dial.h"
#include "platform/numeric_text.h"
#include "platform/text_encoding.h"

namespace wx {

namespace {


std::string TtureIndexPrefix(int slot) {
  return "During rsTTureR, with index " + std::to_string(slot) + " PGMErr: ";
}

// True when the value rounds to 100.00 or more in magnitude, which the
// sign-and-four-digit record field cannot hold.
bool TooLargeForRecord(float celsius) {
  return FixedHalfAway(std::fabs(celsius), 2).size() > 5;
}

}  // namespace

Readers::Readers(Settings& settings, ChannelState& state, Devices& devices, StripChart& chart, WindDial& dial,
                 DataLog& dataLog, NumericView& numeric, ErrorSink& errors, const Clock& clock, Ui& ui,
                 const bool& ShowCelsius)
    : settings_(settings),
      state_(state),
      devices_(devices),
      chart_(chart),
      dial_(dial),
      dataLog_(dataLog),
      numeric_(numeric),
      errors_(errors),
      clock_(clock),
      ui_(ui),
      showCelsius_(ShowCelsius) {}

void Readers::Append(int channel, const std::string& record) {
  state_.ChannelLogged[channel] = true;
  dataLog_.AppendLogLine(record);
}

void Readers::Announce(int channel, double raw, bool average) {
  const DateTime now = clock_.Now();
  readings.Announce(Reading{channel, now, Stamp(now), raw, average});
}

float Readers::rsTTureR(int slot) {
  state_.TtureReadStatus = 0;
  const uint8_t family = settings_.station.sensorRom[slot][0];
  if (!AcceptsFamily(slot, family)) {
    errors_.ShowError(
        "Major problem!! Seems you're trying to read tture with neither DS1820, DS18B20, DS1822 or "
        "DS2438, etc. Family code must be $10,$28 or $26");
    return kTtureNoReading;
  }
  if (family == kFamilyDs2438) {
    VadResult v = devices_.DMLGetVAD(slot);
    if (v.stepCode != 0) {
      devices_.ReportDeviceError(TtureIndexPrefix(slot), v.stepCode, v.tmexCode);
      state_.TtureReadStatus = 4;
      return kTtureNoReading;
    }
    if (v.temperature == 85.0f) {
      errors_.ShowError("DMLGetVAD reported the rogue value of 85 deg C. Err 1 of 5Sep10, with index " +
                        std::to_string(slot));
      state_.TtureReadStatus = 6;
      return kTtureRogue85;
    }
    return v.temperature;
  }
  TtureBytes b = devices_.DMLGet1820Tture(slot);
  if (b.stepCode != 0) {
    devices_.ReportDeviceError(TtureIndexPrefix(slot), b.stepCode, b.tmexCode);
    state_.TtureReadStatus = 1;
    return kTtureNoReading;
  }
  float t;
  if (family == kFamilyDs18s20) {
    const float half = (b.lsb & 1) ? 0.5f : 0.0f;
    if (b.msb == 0xFF) {
      if (b.lsb == 0x00) {
        // -128 degrees: far below the chip's -55, so the bytes are not a reading.
        errors_.ShowError("DMLGet1820Tture gave MSB $FF with LSB $00, outside the DS18S20's range, with index " +
                          std::to_string(slot));
        state_.TtureReadStatus = 1;
        return kTtureNoReading;
      }
      const int m = ((~b.lsb) & 0xFF) + 1;
      t = -(float(m >> 1) + half);
    } else {
      t = float(b.lsb >> 1) + half;
    }
  } else {
    int raw = b.msb * 256 + b.lsb;
    if ((b.msb & 0xF0) == 0xF0) raw = -(((~raw) & 0xFFFF) + 1);
    t = float(raw) / 16.0f;
  }
  if (t == 85.0f) {
    errors_.ShowError("DMLGet1820Tture reported the rogue value of 85 deg C. Err 4 of 9Aug03, with index " +
                      std::to_string(slot));
    state_.TtureReadStatus = 3;
    return kTtureRogue85;
  }
  return t;
}

void Readers::ReadTtureChannel(int k) {
  ++state_.ChannelReadCount[k];
  const float t = rsTTureR(k);
  if (t >= 250.0f) return;
  numeric_.laTture[k].text = FormatTture(showCelsius_ ? t : CelsiusToFahrenheit(t));
  const bool changed = t != state_.LatestTture[k];
  state_.LatestTture[k] = t;
  chart_.SetPixel(kNewestColumn, chart_.TtureRow(k, t), settings_.plot.channelColour[k]);
  Announce(k, t);
  if (!dataLog_.LogDataToFile) return;
  const int32_t phase = state_.ChannelReadCount[k] % 120;
  if (!((changed && (phase == 1 || phase == 2)) || !state_.ChannelLogged[k])) return;
  if (TooLargeForRecord(t)) {
    // The record field holds -99.99..+99.99; a wider value would break the
    // layout the replay reads, so it is shown and plotted but not logged.
    if (!state_.TtureOutOfRangeReported[k]) {
      char text[64];
      std::snprintf(text, sizeof text, "%.2f", double(t));
      errors_.ShowError("Temperature " + std::string(text) + " deg C of channel T" + std::to_string(k) +
                        " is outside the data log's range -99.99..+99.99 and is not logged");
      state_.TtureOutOfRangeReported[k] = true;
    }
    return;
  }
  state_.TtureOutOfRangeReported[k] = false;
  Append(k, TemperatureRecord(k, StampNow(clock_), t));
}

void Readers::LookAtCounter(int slot, LabelView& label, int32_t rise, int32_t period,
                            const std::string& prefix) {
  ++state_.ChannelReadCount[slot];
  CountResult r = devices_.DMLGetCount(slot, settings_.station.counterPage[slot]);
  if (r.stepCode != 0) {
    // A count of 0 from a chip that did not answer would go into the log as
    // a reading, and the history would draw a false burst of rain or wind
    // when the real count came back; the reading is dropped instead.
    devices_.ReportDeviceError(prefix, r.stepCode, r.tmexCode);
    return;
  }
  const int32_t count = r.count % 1000000000;
  state_.CountLatest[slot] = count;
  chart_.SetPixel(kNewestColumn, chart_.CounterRow(count, slot), settings_.plot.channelColour[slot]);
  label.text = std::to_string(count);
  Announce(slot, count);
  if (!dataLog_.LogDataToFile) return;
  const bool rose = rise > 0 ? count > state_.CountLastLogged[slot] + rise : count > state_.CountLastLogged[slot];
  if (rose || state_.ChannelReadCount[slot] % period == 1 || !state_.ChannelLogged[slot]) {
    Append(slot, CounterRecord(std::string(Channel(slot).tag), StampNow(clock_), count));
    state_.CountLastLogged[slot] = count;
  }
}

void Readers::LookAtWindSpeed() {
  LookAtCounter(6, numeric_.laWS, 100, 100, "During LookAtWindSpeed, PGMErr: ");
}

void Readers::LookAtRain() { LookAtCounter(5, numeric_.laRF, 0, 100, "During LookAtRain, PGMErr: "); }

void Readers::LookLightning() {
  LookAtCounter(7, numeric_.laLT, 0, 35, "During LookLightning, PGMErr: ");
}

void Readers::LookOnOff(int channel) {
  const int slot = 10 + channel;
  ++state_.ChannelReadCount[slot];
  CountResult r = devices_.DMLGetCount(slot, settings_.station.counterPage[slot]);
  if (r.stepCode != 0) {
    devices_.ReportDeviceError("During LookOnOff, channel " + std::to_string(channel) + ", PGMErr: ", r.stepCode,
                               r.tmexCode);
    return;
  }
  const int32_t count = r.count % 1000000000;
  state_.CountLatest[slot] = count;
  if (state_.OnOffHasPrevious[channel]) {
    const bool changed = count != state_.OnOffPrevious[channel];
    const int transition = (changed ? 2 : 0) + (state_.OnOffChanged[channel] ? 1 : 0);
    const bool steady = transition != 1 && transition != 2;
    chart_.PlotOnOff(channel, steady, changed ? 1 : 0, count, kNewestColumn);
    state_.OnOffPrevious[channel] = count;
    (channel == 1 ? numeric_.laOnOff1 : numeric_.laOnOff2).text = std::to_string(count);
    state_.OnOffChanged[channel] = changed;
  } else {
    state_.OnOffPrevious[channel] = count;
  }
  state_.OnOffHasPrevious[channel] = true;
  Announce(slot, count);
  if (!dataLog_.LogDataToFile) return;
  if (count > state_.CountLastLogged[slot] || state_.ChannelReadCount[slot] % 35 == 1 ||
      !state_.ChannelLogged[slot]) {
    Append(slot, CounterRecord(std::string(Channel(slot).tag), StampNow(clock_), count));
    state_.CountLastLogged[slot] = count;
  }
}

void Readers::LookAtAnalog(int slot, float& voltage, int16_t& hundredths, const std::string& prefix,
                           const char* negativeMessage, const char* highMessage, LabelView& label,
                           int32_t period) {
  VadResult r = devices_.DMLGetVAD(slot);
  voltage = r.voltage;
  state_.ReadingFault = r.stepCode;
  if (state_.ReadingFault != 0) devices_.ReportDeviceError(prefix, r.stepCode, r.tmexCode);
  if (!(voltage >= 0.0f)) {
    errors_.ShowError(negativeMessage);
    voltage = 9.99f;
    state_.ReadingFault = 1;
  }
  if (!(voltage <= 9.99f)) {
    errors_.ShowError(highMessage);
    voltage = 9.99f;
    state_.ReadingFault = 1;
  }
  // The product is formed in double so that it truncates the single value
  // as stored (4.56 is held as 4.5599999 and gives 455).
  hundredths = int16_t(std::trunc(double(voltage) * 100.0));
  if (state_.ReadingFault != 0) return;
  chart_.SetPixel(kNewestColumn, chart_.AnalogRow(slot, hundredths), settings_.plot.channelColour[slot]);
  ++state_.ChannelReadCount[slot];
  label.text = std::to_string(hundredths);
  Announce(slot, hundredths);
  if (!dataLog_.LogDataToFile) return;
  if (state_.ChannelReadCount[slot] % period == 1 || !state_.ChannelLogged[slot])
    Append(slot, AnalogRecord(std::string(Channel(slot).tag), StampNow(clock_), hundredths));
}

void Readers::LookAtBaro() {
  LookAtAnalog(8, state_.rsBaroLatest, state_.BaroHundredths, "During LookAtBaro, PGMErr: ",
               "rsBaroLatest was negative at line 1 of 10Aug03", "rsBaroLatest was >9.99 at line 1 of 10Aug03",
               numeric_.laBP, 50);
}

void Readers::LookAtHum() {
  LookAtAnalog(9, state_.rsHumLatest, state_.HumHundredths, "During LookAtHum, PGMErr: ",
               "rsHumLatest was negative at line 1 of 10Aug03", "rsHumLatest was >9.99 at line 1 of 10Aug03",
               numeric_.laHum, 30);
}

void Readers::LookAtWindDir() {
  for (auto& l : numeric_.laADC) l.text = "---";
  AdcResult r = devices_.DMLGet2540ADC(10);
  if (r.stepCode != 0) {
    devices_.ReportDeviceError("During LookAtWindDir,PGMErr: ", r.stepCode, r.tmexCode);
  } else {
    std::string code;
    for (int i = 0; i < 4; ++i) {
      numeric_.laADC[i].text = std::to_string(r.input[i]);
      code += QuantiseAdc(r.input[i], settings_.AdcLowThreshold, settings_.AdcHighThreshold);
    }
    state_.WindCode = code;
    state_.WindIndex = LookupWindCode(code, settings_.station.windTable);
    numeric_.laWDr.text = code;
    numeric_.laWDb.text = std::to_string(state_.WindIndex);
    numeric_.laWDi.text = CompassLabel(state_.WindIndex, settings_.station.windOffset);
    ++state_.WindHistogram[state_.WindIndex];
    ++state_.WindReadCount;
    Announce(10, state_.WindIndex);
  }
  state_.WindDialDir =
      state_.WindIndex >= 16 ? 16 : uint8_t((state_.WindIndex + settings_.station.windOffset) % 16);
  dial_.DrawWindDial(state_.WindDialDir);
}

void Readers::PublishWindAverage(int column) {
  if (state_.WindReadCount <= 180) return;
  state_.WindReadCount = 0;
  if (dataLog_.LogDataToFile) Append(10, WindRecord(StampNow(clock_), state_.WindHistogram));
  WindAverageSummary(column);
  // Announced here, not in the summary, which the history replay runs too.
  Announce(10, state_.WindIndex, true);
}

void Readers::WindAverageSummary(int column) {
  const uint8_t m = MostFrequentWindIndex(state_.WindHistogram);
  state_.WindIndex = m;
  numeric_.laWDa.text = CompassLabel(m, settings_.station.windOffset);
  const int row = StripChart::WindDirRow(m);
  chart_.SetPixel(column, row, kWindDirColour);
  chart_.SetPixel(column, row + 1, kWindDirColour);
  state_.WindHistogram.fill(0);
}

}  // namespace wx
