// SPDX-License-Identifier: GPL-2.0-or-later
#include "weather/weather_fields.h"

#include <cmath>
#include <cstdio>

namespace wx {

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
