// SPDX-License-Identifier: GPL-2.0-or-later
// The optional secondary configuration file "C:\WX118\WX118ini2.txt": a
// profile file whose first line begins "abWX118ini2". It sets labels,
// colours, plot offsets and scales, window layouts and the web-page values.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/ui.h"
#include "platform/views.h"

namespace wx {

constexpr const char* kSecondaryHeader = "abWX118ini2";
constexpr uint32_t kNoColour = 0x1000000;
// Shown before the program stops because the secondary file was refused.
constexpr const char* kSecondaryClosingMessage =
    "The secondary ini file (C:\\WX118\\WX118ini2.txt) cannot be used. The program will now "
    "stop. Correct or remove that file and start the program again.";

// Reads the file (a missing one changes nothing), applies every value it
// gives, refreshes the numeric window's captions after the labels, and
// checks the header last. Returns false (after its messages and a request to
// terminate) when the header is wrong.
bool LoadSecondaryConfig(Settings& settings, NumericView& numeric, const std::string& buCorFCaption,
                         const PathMapper& paths, const Clock& clock, Ui& ui, ErrorSink& errors);

// The secondary file as a profile, for the features that read sections of
// their own; read with the same size bound and kind check as at start.
// Nothing when the file is missing or unreadable (the start reported why).
std::optional<ProfileFile> SecondaryProfile(const Settings& settings, const PathMapper& paths);

// A colour line's value: six hex digits in red, green, blue order, or "S"
// and six digits in blue, green, red order. Returns 0x00BBGGRR, or kNoColour
// after a message when the text is not hexadecimal. White is warned about.
uint32_t ParseColourSpec(int channel, const std::string& text, Ui& ui);

// "left,top,width,height" (further numbers ignored). Stores the rectangle
// in rects[scheme][window] (scheme 0 = A, 1 = B; window 0..2) only when all
// four numbers were read, and returns whether they were.
bool ParseRectList(SchemeRects& rects, int scheme, int window, const std::string& text);

}  // namespace wx
