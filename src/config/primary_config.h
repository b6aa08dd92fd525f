// SPDX-License-Identifier: GPL-2.0-or-later
// The primary configuration file "WX118ini.txt": a line-positioned text file
// (line a = first line ... line w = twenty-third) naming the adapter's port
// and type and, per channel, the enable flag and 1-Wire identity.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "platform/error_sink.h"
#include "platform/ui.h"

namespace wx {

// The exact text of line a.
constexpr const char* kPrimaryIdentText = "abWX118ini";
constexpr int kPrimaryLineCount = 23;  // lines a..w

// Reads the file, fills the station (adapter, enable flags, identity texts,
// counter pages, wind letters), shows every fault in a modal message (the
// family-code fault through the error sink) and, on a fatal fault, shows the
// verdict and asks the Ui to terminate. Returns true when the file is sound.
// Never throws, whatever the file holds.
bool LoadPrimaryConfig(StationConfig& station, const std::filesystem::path& file, Ui& ui,
                       ErrorSink& errors);

// The ROM code of every channel from its identity text: digit pair k (1..8)
// becomes ROM byte 8 - k, so the last pair is the family code in byte 0.
// A pair that is missing or not hexadecimal gives 0.
void ConvertSensorIds(StationConfig& station);

// A byte as it may be quoted in a message: printable characters as they
// are, anything else as "byte $XX".
std::string QuotableChar(char c);

}  // namespace wx
