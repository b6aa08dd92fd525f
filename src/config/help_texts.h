// SPDX-License-Identifier: GPL-2.0-or-later
// The three texts of the "&Ini2Info" menu, lines separated by "\r".
#pragma once
#include <string>

namespace wx {

std::string OverviewHelpText();
std::string LegacyHelpText();
std::string ModernHelpText();

}  // namespace wx
