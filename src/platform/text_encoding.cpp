// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/text_encoding.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace wx {
namespace {

// Windows-1252's 0x80..0x9F; 0 where the code page has no character, and
// such a byte is kept as the Latin-1 control character of the same number.
constexpr std::array<uint16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The length of the well-formed UTF-8 sequence at text[i] (2..4), or 0. Over-
// long forms, surrogates and code points beyond U+10FFFF are not well formed.
size_t Utf8SequenceAt(std::string_view text, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  if (b(1) < lo || b(1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if ((b(k) & 0xC0) != 0x80) return 0;
  return len;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

constexpr std::array<std::string_view, 16> kPoints{"N",  "NNE", "NE", "ENE", "E",  "ESE", "SE", "SSE",
                                                    "S",  "SSW", "SW", "WSW", "W",  "WNW", "NW", "NNW"};

int TurnedPoint(int index, int offset) {
  if (index < 0 || index >= 16) return -1;
  return (index + ((offset % 16) + 16) % 16) % 16;
}

}  // namespace

std::string ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (u < 0x80) {
      out += text[i];
    } else if (const size_t len = Utf8SequenceAt(text, i)) {
      out.append(text.substr(i, len));
      i += len - 1;
    } else if (u < 0xA0 && kCp1252High[u - 0x80] != 0) {
      AppendCodePoint(out, kCp1252High[u - 0x80]);
    } else {
      AppendCodePoint(out, u);
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  const std::string utf8 = ToUtf8(text);
  std::string out = "\"";
  out.reserve(utf8.size() + 2);
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F || c == '<') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string HtmlEscape(std::string_view text) {
  const std::string utf8 = ToUtf8(text);
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string CsvField(std::string_view text) {
  const std::string utf8 = ToUtf8(text);
  const bool quote = utf8.find_first_of(",\"\r\n") != std::string::npos ||
                     (!utf8.empty() && (IsBlank(utf8.front()) || IsBlank(utf8.back())));
  if (!quote) return utf8;
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view CompassPoint(int index, int offset) {
  const int p = TurnedPoint(index, offset);
  return p < 0 ? std::string_view{} : kPoints[static_cast<size_t>(p)];
}

std::string_view CompassLabel(int index, int offset) {
  const int p = TurnedPoint(index, offset);
  if (p < 0) return "???";
  return p == 0 ? " N " : kPoints[static_cast<size_t>(p)];
}

double CompassDegrees(int index, int offset) {
  const int p = TurnedPoint(index, offset);
  return p < 0 ? -1.0 : p * 22.5;
}

}  // namespace wx
