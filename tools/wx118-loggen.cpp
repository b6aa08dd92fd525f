// SPDX-License-Identifier: GPL-2.0-or-later
// Writes a data log of about the given size with a realistic mix of records,
// newest record at the given end time: wx118-loggen <file> <bytes> [end-datetime-days]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "datalog/records.h"
#include "datalog/stamps.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <file> <bytes> [end date-time in days, default 46363.5]\n", argv[0]);
    return 2;
  }
  const long long target = std::atoll(argv[2]);
  const double end = argc > 3 ? std::atof(argv[3]) : 46363.5;
  std::vector<std::string> lines;  // newest first
  long long size = 2 * 40;
  const double minute = 1.0 / 1440.0;
  int32_t rain = 500000, wind = 90000000, light = 3000, on1 = 100, on2 = 7;
  for (long long tick = 0; size < target; ++tick) {
    const double t = end - tick * minute;
    const std::string s = wx::Stamp(t);
    auto add = [&](std::string l) { size += static_cast<long long>(l.size()) + 2; lines.push_back(std::move(l)); };
    if (tick % 3 == 0) {
      std::array<uint16_t, 17> bins{};
      bins[tick % 16] = 120;
      bins[(tick + 1) % 16] = 61;
      add(wx::WindRecord(s, bins));
    }
    if (tick % 5 == 0)
      for (int ch = 0; ch < 5; ++ch) add(wx::TemperatureRecord(ch, s, 5.0f + ch * 3 + (tick % 100) * 0.1f));
    if (tick % 17 == 0) {
      add(wx::CounterRecord("rf", s, rain));
      add(wx::CounterRecord("ws", s, wind));
      add(wx::CounterRecord("lt", s, light));
      add(wx::CounterRecord("b1", s, on1));
      add(wx::CounterRecord("b2", s, on2));
      add(wx::AnalogRecord("bp", s, 290 + static_cast<int>(tick % 20)));
      add(wx::AnalogRecord("hm", s, 500 + static_cast<int>(tick % 50)));
      rain -= (tick % 7 == 0); wind -= 1200; light -= (tick % 11 == 0);
      if ((tick / 17) % 4 < 2) on1 -= 1;
      on2 -= (tick % 3 == 0);
      if (wind < 0) wind += 1000000000;
    }
    if (tick % 6000 == 0) add(wx::CyclesCommentRecord(s, 6000 + tick));
    if (tick % 20000 == 0) {
      add(wx::WindOffsetRecord(s, 9, 0));
      add(wx::StartRecord(s));
    }
  }
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) { std::perror(argv[1]); return 1; }
  const std::string first = wx::Stamp(end - static_cast<double>(lines.size()) * minute);
  std::fprintf(f, "%s\r\n%s\r\n", wx::HeaderTitleLine().c_str(), wx::HeaderCreatedLine(first).c_str());
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) std::fprintf(f, "%s\r\n", it->c_str());
  if (std::fclose(f) != 0) { std::perror(argv[1]); return 1; }
  return 0;
}
