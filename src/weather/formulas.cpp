// SPDX-License-Identifier: GPL-2.0-or-later
#include "weather/formulas.h"

#include <cmath>

namespace wx {
namespace {

double ToF(double c) { return c * 9.0 / 5.0 + 32.0; }
double ToC(double f) { return (f - 32.0) * 5.0 / 9.0; }
constexpr double kMphPerKmh = 1.0 / 1.609344;
constexpr double kHpaPerInHg = 33.8638866667;
constexpr double kFeetPerMetre = 1.0 / 0.3048;

}  // namespace

double DewPointC(double celsius, double humidityPercent) {
  const double g = std::log(humidityPercent / 100.0) + 17.27 * celsius / (237.7 + celsius);
  return 237.7 * g / (17.27 - g);
}

double WindChillC(double celsius, double windKmh) {
  const double t = ToF(celsius);
  const double v = windKmh * kMphPerKmh;
  if (t >= 50.0 || v <= 3.0) return celsius;
  const double p = std::pow(v, 0.16);
  return ToC(35.74 + 0.6215 * t - 35.75 * p + 0.4275 * t * p);
}

double HeatIndexC(double celsius, double humidityPercent) {
  const double t = ToF(celsius);
  const double r = humidityPercent;
  if (t < 80.0) return celsius;
  double hi = -42.379 + 2.04901523 * t + 10.14333127 * r - 0.22475541 * t * r - 6.83783e-3 * t * t -
              5.481717e-2 * r * r + 1.22874e-3 * t * t * r + 8.5282e-4 * t * r * r - 1.99e-6 * t * t * r * r;
  if (r < 13.0 && t <= 112.0)
    hi -= (13.0 - r) / 4.0 * std::sqrt((17.0 - std::fabs(t - 95.0)) / 17.0);
  else if (r > 85.0 && t <= 87.0)
    hi += (r - 85.0) / 10.0 * (87.0 - t) / 5.0;
  return ToC(hi);
}

double Humidex(double celsius, double humidityPercent) {
  const double dewK = DewPointC(celsius, humidityPercent) + 273.16;
  const double e = 6.11 * std::exp(5417.7530 * (1.0 / 273.16 - 1.0 / dewK));
  return celsius + 0.5555 * (e - 10.0);
}

double ApparentTemperatureC(double celsius, double humidityPercent, double windMs) {
  const double e = humidityPercent / 100.0 * 6.105 * std::exp(17.27 * celsius / (237.7 + celsius));
  return celsius + 0.33 * e - 0.70 * windMs - 4.00;
}

namespace {
// g / Rd with g = 9.81 m/s² and Rd = 287.05 J/(kg K).
double ReductionRatio(double altitudeM, double celsius) {
  return std::exp(9.81 * altitudeM / (287.05 * (celsius + 273.15)));
}
}  // namespace

double SeaLevelPressureHpa(double stationHpa, double altitudeM, double celsius) {
  return stationHpa * ReductionRatio(altitudeM, celsius);
}

double StationPressureHpa(double seaLevelHpa, double altitudeM, double celsius) {
  return seaLevelHpa / ReductionRatio(altitudeM, celsius);
}

double AltimeterHpa(double stationHpa, double altitudeM) {
  const double inHg = stationHpa / kHpaPerInHg;
  return std::pow(std::pow(inHg, 0.1903) + 1.313e-5 * altitudeM * kFeetPerMetre, 5.255) * kHpaPerInHg;
}

double SensorHumidityPercent(double volts, double supplyVolts, double celsius) {
  const double rh = (volts / supplyVolts - 0.16) / 0.0062;
  return rh / (1.0546 - 0.00216 * celsius);
}

}  // namespace wx
