// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/units.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "channels/channel_table.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"

namespace wx {

std::optional<double> ReadDecimal(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double v = 0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return std::nullopt;
  return v;
}

namespace {

// Counts and voltages take a factor and an offset; temperatures have their
// own rule and the wind direction a compass point.
bool IsMappable(int ch) {
  return IsKind(ch, ChannelKind::Counter) || IsKind(ch, ChannelKind::OnOff) || IsKind(ch, ChannelKind::Analog);
}

}  // namespace

UnitsConfig ReadUnits(const ProfileFile& ini, std::vector<std::string>& problems) {
  UnitsConfig u;
  u.present = ini.HasSection("Units");
  static const char* const kDefaultUnit[13] = {"", "", "", "", "", "mm", "", "strikes", "hPa", "%", "", "", ""};
  const std::string t = ini.ReadString("Units", "Temperature", "C");
  if (t == "F" || t == "f") {
    u.fahrenheit = true;
  } else if (t != "C" && t != "c") {
    problems.push_back("In WX118ini2.txt, [Units] Temperature=" + t +
                       " is neither C nor F. Celsius is used.");
  }
  for (int ch = 0; ch < 13; ++ch) {
    if (!IsMappable(ch)) continue;
    const std::string p = "p" + std::to_string(ch);
    const bool any = ini.HasKey("Units", p + "f") || ini.HasKey("Units", p + "o") || ini.HasKey("Units", p + "u");
    if (!any) continue;
    const std::string f = ini.ReadString("Units", p + "f", "1");
    const std::string o = ini.ReadString("Units", p + "o", "0");
    const auto factor = ReadDecimal(f);
    const auto offset = ReadDecimal(o);
    if (!factor || !offset) {
      problems.push_back("In WX118ini2.txt, [Units] " + p + (factor ? "o=" + o : "f=" + f) +
                         " is not a number. Channel " + std::to_string(ch) + " shows raw values only.");
      continue;
    }
    u.mapped[ch] = true;
    u.factor[ch] = *factor;
    u.offset[ch] = *offset;
    u.unit[ch] = ini.ReadString("Units", p + "u", kDefaultUnit[ch]);
  }
  return u;
}

std::vector<std::string> AssumedUnits(const ProfileFile& ini, const UnitsConfig& units) {
  std::vector<std::string> notes;
  if (!units.present) return notes;
  if (!ini.HasKey("Units", "Temperature")) notes.push_back("[Units] has no Temperature=: degrees Celsius are used.");
  for (int ch = 0; ch < 13; ++ch) {
    const std::string key = "p" + std::to_string(ch) + "u";
    if (!units.mapped[ch] || ini.HasKey("Units", key)) continue;
    const std::string what(Channel(ch).displayName);
    notes.push_back("[Units] has no " + key + "=: " + what +
                    (units.unit[ch].empty() ? " is given without a unit." : " is given in " + units.unit[ch] + "."));
  }
  return notes;
}

std::optional<PhysicalValue> ToPhysical(const UnitsConfig& units, int channel, double raw) {
  if (!units.present || channel < 0 || channel > 12 || !std::isfinite(raw)) return std::nullopt;
  if (IsKind(channel, ChannelKind::Temperature)) {
    if (units.fahrenheit) return PhysicalValue{raw * 9.0 / 5.0 + 32.0, "°F"};
    return PhysicalValue{raw, "°C"};
  }
  if (!units.mapped[channel]) return std::nullopt;
  const double x = IsKind(channel, ChannelKind::Analog) ? raw / 100.0 : raw;
  return PhysicalValue{units.offset[channel] + units.factor[channel] * x, units.unit[channel]};
}

}  // namespace wx
