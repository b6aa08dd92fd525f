// SPDX-License-Identifier: GPL-2.0-or-later
#include "datalog/records.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "channels/channel_table.h"
#include "config/settings.h"
#include "datalog/stamps.h"
#include "platform/numeric_text.h"

namespace wx {

std::string TemperatureField(float celsius) {
  const double v = celsius;
  if (std::isnan(v) || v >= 99.995) return "+9999";
  if (v <= -99.995) return "-9999";
  std::string s = FixedHalfAway(celsius, 2);
  if (s.empty() || s[0] != '-') s.insert(s.begin(), '+');
  while (s.size() < 6) s.insert(1, "0");
  return s.substr(0, 3) + s.substr(s.size() - 2);
}

std::string TemperatureRecord(int channel, const std::string& stamp, float celsius) {
  return "t" + std::to_string(channel) + stamp + TemperatureField(celsius);
}

std::string CounterRecord(const std::string& tag, const std::string& stamp, int32_t count) {
  int64_t v = static_cast<int64_t>(count) % 1000000000;
  if (v < 0) v += 1000000000;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%09lld", static_cast<long long>(v));
  return tag + stamp + buf;
}

std::string AnalogRecord(const std::string& tag, const std::string& stamp, int hundredths) {
  if (hundredths < 0) hundredths = 0;
  if (hundredths > 9999) hundredths = 9999;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", hundredths);
  return tag + stamp + buf;
}

std::string WindRecord(const std::string& stamp, const std::array<uint16_t, 17>& bins) {
  std::string s = "wd" + stamp;
  char buf[8];
  for (uint16_t b : bins) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(b));
    s += buf;
  }
  return s;
}

std::string HandCommentRecord(const std::string& stamp, const std::string& text) {
  return "cm" + stamp + " By hand: " + text;
}

std::string CyclesCommentRecord(const std::string& stamp, int64_t count) {
  return "cm" + stamp + "(machine generated) Cycles since start:" + std::to_string(count);
}

std::string CutShortCommentRecord(const std::string& stamp) { return "cm" + stamp + kCutShortText; }

std::string StartRecord(const std::string& stamp) {
  return "ss" + stamp + "- - System started, WX118 version: " + kVersionText;
}

std::string WindOffsetRecord(const std::string& stamp, int offset, int table) {
  return "wo" + stamp + "- - Wind Dir Offset:" + std::to_string(offset) +
         ". Using lookup table:" + std::string(1, static_cast<char>('a' + table)) + ".";
}

std::string HeaderTitleLine() { return "cm Data Log File for WX118"; }

std::string HeaderCreatedLine(const std::string& stamp) {
  return "cm created:(following is date/time, encoded) " + stamp;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

size_t RecordLength(std::string_view tag) {
  const std::optional<int> ch = ChannelOfTag(tag);
  return ch ? Channel(*ch).recordLength : 0;
}

std::optional<int32_t> ReadWholeField(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return std::nullopt;
    v = v * 10 + (s[i] - '0');
    if (v > INT32_MAX) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -v : v);
}

std::optional<float> ReadTemperatureField(std::string_view field) {
  // The form the writer uses, read without a detour through text; the value
  // is the same one strtod gives for "+21.50".
  if (field.size() == 5 && (field[0] == '+' || field[0] == '-') && IsDigit(field[1]) && IsDigit(field[2]) &&
      IsDigit(field[3]) && IsDigit(field[4])) {
    const int h = (field[1] - '0') * 1000 + (field[2] - '0') * 100 + (field[3] - '0') * 10 + (field[4] - '0');
    return static_cast<float>((field[0] == '-' ? -h : h) / 100.0);
  }
  std::string text(field);
  if (text.size() >= 3) text.insert(3, ".");
  if (text.empty() || text.find_first_not_of("+-.0123456789") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || errno != 0 || !std::isfinite(v)) return std::nullopt;
  return static_cast<float>(v);
}

std::optional<std::array<uint16_t, 17>> ReadWindBins(std::string_view line) {
  if (line.size() != 44) return std::nullopt;
  std::array<uint16_t, 17> bins{};
  for (int i = 0; i < 17; ++i) {
    const int hi = HexDigit(line[10 + 2 * i]);
    const int lo = HexDigit(line[11 + 2 * i]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bins[i] = static_cast<uint16_t>(hi * 16 + lo);
  }
  return bins;
}

RecordLine ReadRecordLine(std::string_view line, int presentYear, StampMemo* memo) {
  RecordLine r;
  r.tag = line.substr(0, 2);
  if (line.size() >= 10) {
    r.stamp = line.substr(2, 8);
    if (memo && memo->known && std::memcmp(memo->stamp, r.stamp.data(), 8) == 0) {
      r.time = memo->time;
    } else {
      // The decoder takes ten characters and reads the first eight.
      char ten[10] = {};
      std::copy(r.stamp.begin(), r.stamp.end(), ten);
      r.time = StampToDateTime(std::string_view(ten, 10), presentYear);
      if (memo) {
        std::memcpy(memo->stamp, ten, 8);
        memo->known = true;
        memo->time = r.time;
      }
    }
  }
  const std::optional<int> channel = ChannelOfTag(r.tag);
  if (!channel) {
    r.freeText = r.tag == "cm" || r.tag == "ss" || r.tag == "wo";
    if (!r.freeText) {
      r.fault = RecordFault::NotARecord;
    } else {
      r.text = line.substr(r.time ? 10 : 2);
    }
    return r;
  }
  r.channel = *channel;
  const ChannelInfo& info = Channel(*channel);
  if (line.size() > 10) r.field = line.substr(10, info.recordLength - 10);
  bool valueRead = false;
  switch (info.kind) {
    case ChannelKind::Temperature:
      r.celsius = ReadTemperatureField(r.field);
      valueRead = r.celsius.has_value();
      break;
    case ChannelKind::WindDirection:
      r.bins = ReadWindBins(line);
      valueRead = r.bins.has_value();
      break;
    default:
      r.count = ReadWholeField(r.field);
      valueRead = r.count && *r.count >= 0;  // the writer never logs a negative count
      break;
  }
  if (line.size() < info.recordLength)
    r.fault = RecordFault::CutShort;
  else if (line.size() > info.recordLength)
    r.fault = RecordFault::TooLong;
  else if (!r.time)
    r.fault = RecordFault::BadStamp;
  else if (!valueRead)
    r.fault = RecordFault::BadValue;
  return r;
}

}  // namespace wx
