// SPDX-License-Identifier: GPL-2.0-or-later
// The encodings the outputs need, in one place. Texts reach the program from
// files written on other systems (configuration labels, hand-written log
// comments): bytes that are not UTF-8 are taken as Windows-1252, the
// superset of Latin-1 those files hold, so every output is valid UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace wx {

// The text as UTF-8: valid UTF-8 sequences pass, every other byte of 0x80 and
// above is read as Windows-1252 (Latin-1 where that code page leaves a gap).
std::string ToUtf8(std::string_view text);

// A JSON string, quotes included, in UTF-8 (ToUtf8). Control characters,
// DEL and '<' are escaped, so the text may also sit inside a script element.
std::string JsonString(std::string_view text);

// Text for HTML element content or a quoted attribute, in UTF-8 (ToUtf8).
std::string HtmlEscape(std::string_view text);

// One CSV field (RFC 4180), in UTF-8 (ToUtf8): quoted when it holds a comma,
// a quote, a line break or leading or trailing blanks; quotes doubled.
std::string CsvField(std::string_view text);

// Without leading and trailing spaces and tabs.
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);

// The compass point ("N", "NNE" ... "NNW") of a wind direction index 0..15
// turned by the vane offset 0..15 (the offset is taken modulo 16); "" for an
// index outside 0..15 (no valid vane code).
std::string_view CompassPoint(int index, int offset);
// The same point as the numeric window shows it: north is " N " (three
// characters wide like its neighbours), no valid code is "???".
std::string_view CompassLabel(int index, int offset);
// The direction in degrees (0, 22.5 ... 337.5) of the same point; -1 for no
// valid code.
double CompassDegrees(int index, int offset);

}  // namespace wx
