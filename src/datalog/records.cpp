#include "datalog/records.h"

#include <cmath>
#include <cstdio>

#include "config/settings.h"
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

}  // namespace wx
