// SPDX-License-Identifier: GPL-2.0-or-later
// The one line of text on the published chart picture, drawn from a table of
// glyphs rendered at build time (the toolkit's default font at 8 points, as
// the toolkit itself draws it) rather than by the toolkit's font machinery,
// so that a run without windows needs no GUI application, no font
// configuration and no shaping library to stamp the picture.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "graph/rgb_image.h"

namespace wx {

// One rendering of a glyph: 8-bit coverage, placed relative to the pen's
// whole pixel and the baseline.
struct StampGlyphMask {
  int8_t left;  // first column, from the pen's whole pixel
  int8_t top;   // first row, from the baseline (negative: above it)
  uint8_t width;
  uint8_t height;
  uint32_t offset;  // into StampFont::coverage, row by row
};

// A printable ASCII character. The pen advances in 1/64 pixel, and the glyph
// is rasterised differently by where within a pixel the pen stands.
struct StampGlyph {
  int32_t advance;             // 1/64 pixel
  uint16_t firstMask;          // into StampFont::masks
  uint8_t maskAtFraction[64];  // added to firstMask, by the pen's 1/64 pixel fraction
};

// The pen moves by this much more (or less) between the two characters.
struct StampKerningPair {
  char first;
  char second;
  int16_t adjust;  // 1/64 pixel
};

struct StampFont {
  int ascent;                // baseline below the top of the line, pixels
  int height;                // of the line, pixels
  const StampGlyph* glyphs;  // characters 32 to 126
  const StampGlyphMask* masks;
  const uint8_t* coverage;
  const StampKerningPair* kerning;  // sorted by first, then second
  size_t kerningCount;
};

// The generated table (stamp_glyphs.cpp in the build tree).
extern const StampFont kStampFont;

// The width of the text in whole pixels, rounded as the toolkit's metrics
// round it; a character outside printable ASCII counts as '?'.
int StampTextWidth(std::string_view text, const StampFont& font = kStampFont);

// Opaque text, as a canvas draws it: the cell behind it (the text's width by
// the line's height, top left at x, y) is filled white, then the glyphs are
// blended on in black. Clipped to the image.
void DrawStampText(RgbImage& image, int x, int y, std::string_view text, const StampFont& font = kStampFont);

}  // namespace wx
