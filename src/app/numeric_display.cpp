#include "app/numeric_display.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace wx {

float CelsiusToFahrenheit(float celsius) {
  if (celsius == kNoTture) return kNoTture;
  const long double f = static_cast<long double>(celsius) * 1.8L + 32.0L;
  return static_cast<float>(f);
}

std::string FormatTture(float value) {
  if (!std::isfinite(value)) return "- - -";
  double v = value;
  char buf[64];
  // With three or more integer digits, three significant digits are coarser
  // than one decimal: round to them first. Otherwise one decimal is the
  // coarser step and a single rounding gives the same text without the
  // double-rounding drift (1.249 must not become 1.3).
  if (v != 0.0 && std::fabs(v) >= 100.0) {
    std::snprintf(buf, sizeof buf, "%.2e", v);
    v = std::strtod(buf, nullptr);
  }
  std::snprintf(buf, sizeof buf, "%.1f", v);
  std::string text(buf);
  if (text == "-0.0") text = "0.0";  // a tiny negative value rounds to zero, not "minus zero"
  return text;
}

std::string UnitSuffix(const std::string& buCorFCaption) {
  return buCorFCaption == kShowFahrenheitCaption ? "(C)" : "(F)";
}

void RefreshCaptions(const PlotConfig& plot, const std::string& buCorFCaption, NumericView& numeric) {
  const std::string unit = UnitSuffix(buCorFCaption);
  for (int k = 0; k < 5; ++k) numeric.laTxtTture[k].text = plot.channelLabel[k] + unit;
  numeric.laTxtRainfall.text = plot.channelLabel[5];
  numeric.laTxtWindspeed.text = plot.channelLabel[6];
  numeric.laTxtLtning.text = plot.channelLabel[7];
  numeric.laTxtBP.text = plot.channelLabel[8];
  numeric.laTxtHum.text = plot.channelLabel[9];
  numeric.laTxtOnOff1.text = plot.channelLabel[11];
  numeric.laTxtOnOff2.text = plot.channelLabel[12];
}

void ToggleUnits(bool& ShowCelsius, MainView& main, NumericView& numeric, const PlotConfig& plot,
                 const std::array<float, 5>& LatestTture) {
  ShowCelsius = !ShowCelsius;
  main.buCorFCaption = ShowCelsius ? kShowFahrenheitCaption : kShowCelsiusCaption;
  const std::string unit = ShowCelsius ? "(C)" : "(F)";
  for (int k = 0; k < 5; ++k) {
    const float t = LatestTture[k];
    if (t != kNoTture)
      numeric.laTture[k].text = FormatTture(ShowCelsius ? t : CelsiusToFahrenheit(t));
    numeric.laTxtTture[k].text = plot.channelLabel[k] + unit;
  }
}

}  // namespace wx
