// SPDX-License-Identifier: GPL-2.0-or-later
#include "weather/station.h"

#include <cctype>
#include <cstdio>

#include "platform/profile.h"
#include "platform/text_encoding.h"

namespace wx {
namespace {

std::string Plain(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A number within [low, high] (exclusive of zero and below when positive),
// or a problem and nullopt.
std::optional<double> Number(const ProfileFile& ini, const char* key, double low, double high, bool positive,
                             std::vector<std::string>& problems) {
  if (!ini.HasKey("Station", key)) return std::nullopt;
  const std::string text = ini.ReadString("Station", key, "");
  const auto v = ReadDecimal(text);
  if (v && *v >= low && *v <= high && (!positive || *v > 0)) return v;
  problems.push_back("In WX118ini2.txt, [Station] " + std::string(key) + "=" + text + " is not " +
                     (positive ? "a positive number" : "a number") +
                     (v && !positive ? " from " + Plain(low) + " to " + Plain(high) : "") + ". The value is left out.");
  return std::nullopt;
}

}  // namespace

StationSettings ReadStationSettings(const ProfileFile& ini, std::vector<std::string>& problems) {
  StationSettings s;
  s.present = ini.HasSection("Station");
  if (!s.present) return s;
  s.name = std::string(Trim(ini.ReadString("Station", "Name", "")));
  s.altitudeM = Number(ini, "Altitude", -500, 9000, false, problems);
  s.latitude = Number(ini, "Latitude", -90, 90, false, problems);
  s.longitude = Number(ini, "Longitude", -180, 180, false, problems);
  if (const auto f = Number(ini, "WindFactor", 0, 1e6, true, problems)) s.windFactor = *f;
  if (const auto v = Number(ini, "Vdd", 0, 20, true, problems)) s.vdd = *v;
  if (ini.HasKey("Station", "Outdoor")) {
    const std::string text = ini.ReadString("Station", "Outdoor", "");
    std::string t = Lower(std::string(Trim(text)));
    if (!t.empty() && t.front() == 't') t.erase(0, 1);
    if (t.size() == 1 && t[0] >= '0' && t[0] <= '4')
      s.outdoor = t[0] - '0';
    else
      problems.push_back("In WX118ini2.txt, [Station] Outdoor=" + text + " is not one of T0 to T4. T0 is used.");
  }
  if (ini.HasKey("Station", "Pressure")) {
    const std::string text = ini.ReadString("Station", "Pressure", "");
    const std::string p = Lower(std::string(Trim(text)));
    if (p == "sealevel")
      s.calibrationGivesSeaLevel = true;
    else if (p != "station")
      problems.push_back("In WX118ini2.txt, [Station] Pressure=" + text +
                         " is neither station nor sealevel. station is used.");
  }
  return s;
}

double RainMmPerCount(const UnitsConfig& units) {
  if (!units.present || !units.mapped[5]) return kDefaultRainMmPerCount;
  const std::string u = Lower(units.unit[5]);
  const double scale = u == "in" || u == "inch" || u == "inches" ? 25.4 : u == "cm" ? 10.0 : 1.0;
  return units.factor[5] * scale;
}

std::optional<double> CalibratedPressureHpa(const UnitsConfig& units, double hundredths) {
  if (!units.present || !units.mapped[8]) return std::nullopt;
  const std::string u = Lower(units.unit[8]);
  const double scale = u == "kpa" ? 10.0 : u == "inhg" ? 33.8638866667 : u == "mmhg" ? 1.33322387415 : 1.0;
  return (units.offset[8] + units.factor[8] * hundredths / 100.0) * scale;
}

}  // namespace wx
