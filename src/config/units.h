// SPDX-License-Identifier: GPL-2.0-or-later
// The optional [Units] section of the secondary file: how a logged raw value
// becomes a physical one for the outputs beside the specified files (export,
// current values, the phone page, MQTT). The specified page and log keep
// their own units whatever is set here.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wx {

class ProfileFile;

struct UnitsConfig {
  bool present = false;       // the section exists: temperatures get a unit
  bool fahrenheit = false;    // Temperature=F
  // Per channel 0..12; used for the counters (5, 6, 7, 11, 12: value =
  // offset + factor * count) and for pressure and humidity (8, 9: value =
  // offset + factor * volts, the log holding hundredths of a volt).
  std::array<bool, 13> mapped{};
  std::array<double, 13> factor{};
  std::array<double, 13> offset{};
  std::array<std::string, 13> unit{};
};

struct PhysicalValue {
  double value = 0;
  std::string unit;  // "°C", "°F", "mm", ... (may be empty)
};

// A decimal number as the secondary file gives it ("1.974", "+12", "-0.5"),
// blanks around it allowed; nullopt for anything else, infinities included.
std::optional<double> ReadDecimal(std::string_view text);

// Reads the section; a value that is not a number is left out and described
// in problems (one sentence each), so the rest of the file still counts.
UnitsConfig ReadUnits(const ProfileFile& ini, std::vector<std::string>& problems);

// What the outputs assume because the owner did not say it: one sentence per
// converted channel whose unit key is absent (its default unit named), and
// one when Temperature= is absent. Empty without a [Units] section.
std::vector<std::string> AssumedUnits(const ProfileFile& ini, const UnitsConfig& units);

// The physical value of a raw one as readings and the data log carry it:
// degrees Celsius for 0..4, the count for 5, 6, 7, 11, 12, hundredths of a
// volt for 8 and 9. nullopt when no unit is configured for the channel (and
// always for the wind direction, 10, whose name CompassPoint gives).
std::optional<PhysicalValue> ToPhysical(const UnitsConfig& units, int channel, double raw);

}  // namespace wx
