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

// Black at the given coverage over one 32-bit pixel (opaque or premultiplied).
QRgb OverBlack(QRgb dst, unsigned coverage) {
  const unsigned keep = 255 - coverage;
  auto part = [&](unsigned v) { return (v * keep + 127) / 255; };
  const unsigned a = (qAlpha(dst) * keep + 255 * coverage + 127) / 255;
  return qRgba(static_cast<int>(part(qRed(dst))), static_cast<int>(part(qGreen(dst))),
               static_cast<int>(part(qBlue(dst))), static_cast<int>(a));
}

}  // namespace

int StampTextWidth(std::string_view text, const StampFont& font) {
  return static_cast<int>((Walk(text, font, [](char, int64_t) {}) + 32) >> 6);
}

void DrawStampText(QImage& image, int x, int y, std::string_view text, const StampFont& font) {
  if (image.isNull()) return;
  if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  const QRect all = image.rect();
  const QRect cell = QRect(x, y, StampTextWidth(text, font), font.height).intersected(all);
  for (int row = cell.top(); row <= cell.bottom(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
    std::fill(line + cell.left(), line + cell.right() + 1, qRgb(255, 255, 255));
  }
  const int64_t baseline = static_cast<int64_t>(y) + font.ascent;
  Walk(text, font, [&](char c, int64_t pen) {
    const StampGlyph& g = GlyphOf(font, c);
    const int64_t at = static_cast<int64_t>(x) * 64 + pen;
    const StampGlyphMask& m = font.masks[g.firstMask + g.maskAtFraction[at & 63]];
    const int64_t left = (at >> 6) + m.left, top = baseline + m.top;
    for (int r = 0; r < m.height; ++r) {
      const int64_t py = top + r;
      if (py < 0 || py >= all.height()) continue;
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(py)));
      const uint8_t* cov = font.coverage + m.offset + static_cast<size_t>(r) * m.width;
      for (int col = 0; col < m.width; ++col) {
        const int64_t px = left + col;
        if (px < 0 || px >= all.width() || cov[col] == 0) continue;
        line[px] = OverBlack(line[px], cov[col]);
      }
    }
  });
}

}  // namespace wx
