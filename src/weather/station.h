// SPDX-License-Identifier: GPL-2.0-or-later
// The [Station] section of the secondary file, and how the [Units]
// calibrations of the rain gauge and the barometer become millimetres and
// hectopascals.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "config/units.h"
#include "weather/weather_values.h"

namespace wx {

class ProfileFile;

// Reads the section (absent: the defaults, present = false). A value that
// cannot be used keeps its default and is described in problems, one
// sentence each.
StationSettings ReadStationSettings(const ProfileFile& ini, std::vector<std::string>& problems);

// Millimetres per rain count: the [Units] p5 factor when set (its unit "in"
// or "cm" converted), else 0.254 mm, the 0.01 inch bucket of the common
// 1-Wire rain gauge.
constexpr double kDefaultRainMmPerCount = 0.254;
double RainMmPerCount(const UnitsConfig& units);

// The barometer's pressure in hPa from its voltage (hundredths as the log
// holds them): the [Units] p8 calibration (unit hPa, mbar, kPa, inHg or
// mmHg); nullopt without one.
std::optional<double> CalibratedPressureHpa(const UnitsConfig& units, double hundredths);

}  // namespace wx
