// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/numeric_text.h"

#include <cmath>
#include <cstdio>

namespace wx {

std::string FixedHalfAway(float value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 6) decimals = 6;
  char buf[96];
  if (!std::isfinite(value)) {
    std::snprintf(buf, sizeof buf, "%.*f", decimals, static_cast<double>(value));
    return buf;
  }
  // A float times a power of ten up to 10^6 is exact in a double (24 + 14
  // bits), so std::round sees the true half and rounds it away from zero;
  // printf would round it to even (10.125 -> "10.12").
  const double scaled = std::round(static_cast<double>(value) * std::pow(10.0, decimals));
  std::snprintf(buf, sizeof buf, "%.0f", std::fabs(scaled));  // an integer: printed exactly
  std::string digits = buf;
  if (digits.size() < static_cast<size_t>(decimals) + 1) digits.insert(0, decimals + 1 - digits.size(), '0');
  if (decimals > 0) digits.insert(digits.size() - decimals, ".");
  return (scaled < 0 ? "-" : "") + digits;
}

float CelsiusToFahrenheit(float celsius) {
  if (celsius == kNoTture) return kNoTture;
  const long double f = static_cast<long double>(celsius) * 1.8L + 32.0L;
  return static_cast<float>(f);
}

std::string FormatTture(float value) {
  if (!std::isfinite(value)) return "- - -";
  // With three or more integer digits, three significant digits are coarser
  // than one decimal: round to them first. Otherwise one decimal is the
  // coarser step and a single rounding gives the same text without the
  // double-rounding drift (1.249 must not become 1.3).
  if (std::fabs(value) >= 100.0f) {
    const int intDigits = static_cast<int>(std::floor(std::log10(std::fabs(double(value))))) + 1;
    const double step = std::pow(10.0, intDigits - 3);
    const double rounded = std::round(double(value) / step) * step;
    return FixedHalfAway(static_cast<float>(rounded), 1);
  }
  return FixedHalfAway(value, 1);
}

std::string UnitSuffix(const std::string& buCorFCaption) {
  return buCorFCaption == kShowFahrenheitCaption ? "(C)" : "(F)";
}

void RefreshCaptions(const ChannelLabels& labels, const std::string& buCorFCaption, NumericView& numeric) {
  const std::string unit = UnitSuffix(buCorFCaption);
  for (int k = 0; k < 5; ++k) numeric.laTxtTture[k].text = labels[k] + unit;
  numeric.laTxtRainfall.text = labels[5];
  numeric.laTxtWindspeed.text = labels[6];
  numeric.laTxtLtning.text = labels[7];
  numeric.laTxtBP.text = labels[8];
  numeric.laTxtHum.text = labels[9];
  numeric.laTxtOnOff1.text = labels[11];
  numeric.laTxtOnOff2.text = labels[12];
}

void ToggleUnits(bool& ShowCelsius, MainView& main, NumericView& numeric, const ChannelLabels& labels,
                 const std::array<float, 5>& LatestTture) {
  ShowCelsius = !ShowCelsius;
  main.buCorFCaption = ShowCelsius ? kShowFahrenheitCaption : kShowCelsiusCaption;
  const std::string unit = ShowCelsius ? "(C)" : "(F)";
  for (int k = 0; k < 5; ++k) {
    const float t = LatestTture[k];
    if (t != kNoTture)
      numeric.laTture[k].text = FormatTture(ShowCelsius ? t : CelsiusToFahrenheit(t));
    numeric.laTxtTture[k].text = labels[k] + unit;
  }
}

}  // namespace wx
