// SPDX-License-Identifier: GPL-2.0-or-later
// The colour and rectangle parsers of the secondary file. The first byte picks
// the channel and the scheme window, the rest is the value text.
#include <cstdio>

#include "config/secondary_config.h"
#include "fuzz/fuzz_support.h"

namespace wx::fuzz {
namespace {

void CheckColour(int channel, const std::string& text, Findings& f) {
  ScriptedUi ui;
  const uint32_t colour = ParseColourSpec(channel, text, ui);
  f.Check(colour <= 0xFFFFFF || colour == kNoColour, "a colour value or the no-colour mark");
  if (colour == kNoColour) {
    f.Check(ui.messages.size() == 1, "a refused colour is explained once");
    return;
  }
  f.Check(ui.messages.size() == (colour == 0xFFFFFF ? 1u : 0u), "only white is warned about");
  // Both spellings of the same colour give it back.
  char rgb[8], bgr[9];
  std::snprintf(rgb, sizeof rgb, "%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  std::snprintf(bgr, sizeof bgr, "S%06X", colour);
  ScriptedUi again;
  f.Check(ParseColourSpec(channel, rgb, again) == colour, "red-green-blue spelling reads back");
  f.Check(ParseColourSpec(channel, bgr, again) == colour, "S blue-green-red spelling reads back");
}

SchemeRects Marked() {
  SchemeRects r{};
  int n = 1;
  for (auto& scheme : r)
    for (WindowRect& w : scheme) {
      w = WindowRect{n, n + 1, n + 2, n + 3};
      n += 10;
    }
  return r;
}

void CheckRect(int scheme, int window, const std::string& text, Findings& f) {
  const SchemeRects marked = Marked();
  SchemeRects rects = marked;
  const bool ok = ParseRectList(rects, scheme, window, text);
  for (int s = 0; s < 2; ++s)
    for (int w = 0; w < 3; ++w)
      if (!ok || s != scheme || w != window)
        f.Check(rects[s][w] == marked[s][w], "only the named rectangle is touched, and only on success");
  if (!ok) return;
  const WindowRect got = rects[scheme][window];
  const std::string canonical = std::to_string(got.left) + "," + std::to_string(got.top) + "," +
                                std::to_string(got.width) + "," + std::to_string(got.height);
  SchemeRects again = marked;
  f.Check(ParseRectList(again, scheme, window, canonical) && again[scheme][window] == got,
          "the rectangle written out reads back");
  again = marked;
  f.Check(ParseRectList(again, scheme, window, text + ",9") && again[scheme][window] == got,
          "numbers after the fourth are ignored");
}

}  // namespace

std::string FuzzColourRect(const uint8_t* data, size_t size) {
  Findings f;
  if (size == 0) return {};
  const int channel = data[0] % kChannels;
  const int scheme = (data[0] >> 4) & 1;
  const int window = (data[0] >> 5) % 3;
  const std::string text(AsText(data + 1, size - 1));
  CheckColour(channel, text, f);
  CheckRect(scheme, window, text, f);
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzColourRect)
