// SPDX-License-Identifier: GPL-2.0-or-later
#include "web/stamp_text.h"

#include <algorithm>

namespace wx {
namespace {

char Printable(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 32 && u <= 126 ? c : '?';
}

// c is printable (see Printable).
const StampGlyph& GlyphOf(const StampFont& font, char c) { return font.glyphs[c - 32]; }

int KerningOf(const StampFont& font, char a, char b) {
  const StampKerningPair* end = font.kerning + font.kerningCount;
  const StampKerningPair* it = std::lower_bound(font.kerning, end, std::pair(a, b),
                                                [](const StampKerningPair& k, const std::pair<char, char>& p) {
                                                  return k.first != p.first ? k.first < p.first : k.second < p.second;
                                                });
  return it != end && it->first == a && it->second == b ? it->adjust : 0;
}

// The pen's travel over the text, 1/64 pixel; calls at(char, pen) for each
// character at the pen before it moves on.
template <typename At>
int64_t Walk(std::string_view text, const StampFont& font, At at) {
  int64_t pen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = Printable(text[i]);
    at(c, pen);
    pen += GlyphOf(font, c).advance;
    if (i + 1 < text.size()) pen += KerningOf(font, c, Printable(text[i + 1]));
  }
  return pen;
}

// Black at the given coverage over an opaque pixel.
uint32_t OverBlack(uint32_t dst, unsigned coverage) {
  const unsigned keep = 255 - coverage;
  auto part = [&](unsigned shift) { return ((dst >> shift & 0xFF) * keep + 127) / 255 << shift; };
  return 0xFF000000u | part(16) | part(8) | part(0);
}

}  // namespace

int StampTextWidth(std::string_view text, const StampFont& font) {
  return static_cast<int>((Walk(text, font, [](char, int64_t) {}) + 32) >> 6);
}

void DrawStampText(RgbImage& image, int x, int y, std::string_view text, const StampFont& font) {
  const int64_t width = image.Width(), height = image.Height();
  const int64_t left = std::max<int64_t>(x, 0), right = std::min<int64_t>(int64_t{x} + StampTextWidth(text, font), width);
  const int64_t top = std::max<int64_t>(y, 0), bottom = std::min<int64_t>(int64_t{y} + font.height, height);
  for (int64_t row = top; left < right && row < bottom; ++row) {
    uint32_t* line = image.MutableRow(static_cast<int>(row));
    std::fill(line + left, line + right, 0xFFFFFFFFu);
    image.Touch({static_cast<int>(left), static_cast<int>(row), static_cast<int>(right - 1), static_cast<int>(row)});
  }
  const int64_t baseline = static_cast<int64_t>(y) + font.ascent;
  Walk(text, font, [&](char c, int64_t pen) {
    const StampGlyph& g = GlyphOf(font, c);
    const int64_t at = static_cast<int64_t>(x) * 64 + pen;
    const StampGlyphMask& m = font.masks[g.firstMask + g.maskAtFraction[at & 63]];
    const int64_t glyphLeft = (at >> 6) + m.left, glyphTop = baseline + m.top;
    for (int r = 0; r < m.height; ++r) {
      const int64_t py = glyphTop + r;
      if (py < 0 || py >= height) continue;
      uint32_t* line = image.MutableRow(static_cast<int>(py));
      const uint8_t* cov = font.coverage + m.offset + static_cast<size_t>(r) * m.width;
      for (int col = 0; col < m.width; ++col) {
        const int64_t px = glyphLeft + col;
        if (px < 0 || px >= width || cov[col] == 0) continue;
        line[px] = OverBlack(line[px], cov[col]);
        image.Touch({static_cast<int>(px), static_cast<int>(py), static_cast<int>(px), static_cast<int>(py)});
      }
    }
  });
}

}  // namespace wx
