// SPDX-License-Identifier: GPL-2.0-or-later
// Temperature conversion and text format, and the captions and unit toggle of
// the numeric readings window. They act on the view models only, so the
// readers, the configuration and the page can use them without the app.
#pragma once
#include <array>
#include <string>

#include "platform/views.h"

namespace wx {

// The temperature of a channel that has not been read yet.
constexpr float kNoTture = 999.0f;

// Caption of buCorF while Fahrenheit is on show (a click switches to Celsius)
// and while Celsius is on show.
constexpr const char* kShowCelsiusCaption = "&Show Celcius";
constexpr const char* kShowFahrenheitCaption = "&Show F'heit";

// The caption of every channel 0..12 (10, wind direction, has none).
using ChannelLabels = std::array<std::string, 13>;

// Fixed-point text with `decimals` digits (0..6), an exact half rounded away
// from zero as a person rounds (10.125 -> "10.13", -0.25 -> "-0.3"); no
// minus sign on a value that rounds to zero.
std::string FixedHalfAway(float value, int decimals);
// 999 (no reading) passes through unchanged.
float CelsiusToFahrenheit(float celsius);
// Three significant digits, shown with one decimal: 21.46 -> "21.5",
// -5.23 -> "-5.2", 104.56 -> "105.0".
std::string FormatTture(float value);
// "(C)" when buCorF offers Fahrenheit, else "(F)".
std::string UnitSuffix(const std::string& buCorFCaption);
// Sets every caption label of the numeric window from the channel labels and
// the unit on show; the wind-direction captions keep their texts.
void RefreshCaptions(const ChannelLabels& labels, const std::string& buCorFCaption, NumericView& numeric);
// The work of buCorFClick: switches the temperature unit, the button caption,
// the five temperature captions and the values of channels already read.
void ToggleUnits(bool& ShowCelsius, MainView& main, NumericView& numeric, const ChannelLabels& labels,
                 const std::array<float, 5>& LatestTture);

}  // namespace wx
