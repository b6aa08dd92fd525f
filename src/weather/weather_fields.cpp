// SPDX-License-Identifier: GPL-2.0-or-later
#include "weather/weather_fields.h"

#include <cmath>
#include <cstdio>

namespace wx {

bool WeatherFieldAvailable(const WeatherField& field, const std::array<bool, 13>& enabled, int outdoor) {
  for (int ch = 0; ch < 13; ++ch)
    if ((field.needs & (1u << ch)) && !enabled[size_t(ch)]) return false;
  return !(field.needs & kOutdoorBit) || enabled[size_t(outdoor)];
}

std::string RoundedNumber(double value, int decimals) {
  if (!std::isfinite(value)) return "null";
  const double scale = std::pow(10.0, decimals);
  const double r = std::round(value * scale) / scale;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, r);
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

}  // namespace wx
