// SPDX-License-Identifier: GPL-2.0-or-later
// Whether the windows have a display to go on. Without one the toolkit
// aborts with a core dump; the program says so in one line instead.
#pragma once
#include <string>

namespace wx {

// True when windows can be shown (or the user chose a platform through
// QT_QPA_PLATFORM). Otherwise false, with the reason in `why`.
bool DisplayAvailable(std::string& why);

// The one line shown when there is none.
std::string NoDisplayText(const std::string& why, bool demo);

}  // namespace wx
