// SPDX-License-Identifier: GPL-2.0-or-later
// Reads a station file (docs/station-file.md): the adapter, the chips with
// their ROM codes, value programs and faults of a simulated network.
#pragma once
#include <memory>
#include <string>

#include "platform/clock.h"
#include "tmex/sim/sim_network.h"

namespace wx {

// nullptr on failure; error then lists every bad line as "line N: ...".
std::unique_ptr<SimNetwork> ParseStation(const std::string& text, const Clock& clock,
                                         std::string& error);
std::unique_ptr<SimNetwork> LoadStation(const std::string& path, const Clock& clock,
                                        std::string& error);

}  // namespace wx
