// SPDX-License-Identifier: GPL-2.0-or-later
// The station file of --simulate and --demo: any bytes as the file, loaded
// the way the program loads it. A refused file must say where; an accepted
// one must give a network whose every chip answers the commands the monitor
// sends, over simulated time, without a fault of the sanitizers.
#include <algorithm>
#include <cctype>
#include <sstream>

#include "fuzz/fuzz_support.h"
#include "platform/clock.h"
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/station_file.h"
#include "tmex/tmex.h"

namespace wx::fuzz {
namespace {

// The monitor's conversions and reads, per family.
std::vector<std::vector<int>> CommandsFor(uint8_t family) {
  switch (family) {
    case 0x10:
    case 0x28: return {{0x44}, {0xBE, -9}};
    case 0x26: return {{0x44}, {0xB4}, {0xB8, 0x00}, {0xBE, 0x00, -9}};
    case 0x1D: return {{0xA5, 0xC0, 0x01, -42}, {0xA5, 0xE0, 0x01, -42}};
    case 0x20: return {{0x3C, 0x0F, 0x00, -2}, {0xAA, 0x00, 0x00, -10}};
    default: return {};
  }
}

}  // namespace

std::string FuzzStation(const uint8_t* data, size_t size) {
  Findings f;
  const TempDir& dir = Scratch();
  if (!dir.ok()) return {};
  const std::string text(AsText(data, size));
  const auto file = dir.Write("station.txt", text);

  FakeClock clock;
  std::string error;
  std::shared_ptr<SimNetwork> net = LoadStation(file.string(), clock, error);
  f.Check(!net == !error.empty(), "an error exactly when the file is refused");
  f.Check(ReadFile(file) == text, "the file is left as it was");
  if (!net) {
    f.Check(error.rfind(file.string() + ": ", 0) == 0, "the error names the file");
    f.Check(error.find("line ") != std::string::npos, "the error names a line");
    return f.First();
  }
  size_t chipLines = 0;
  std::istringstream lines(text);
  // Keywords are case-insensitive: "CHIP" declares a chip as well.
  for (std::string l; std::getline(lines, l);) {
    std::transform(l.begin(), l.end(), l.begin(), [](unsigned char c) { return std::tolower(c); });
    chipLines += l.find("chip") != std::string::npos;
  }
  f.Check(net->chips().size() <= chipLines, "no chip without its line");

  Tmex tmex(MakeSimBackendFactory(*net));
  for (int round = 0; round < 2; ++round) {
    for (const auto& chip : net->chips()) {
      const int32_t s = tmex.TMExtendedStartSession(static_cast<int16_t>(net->adapterPort()),
                                                    static_cast<int16_t>(net->adapterType()), nullptr);
      if (s < 1) break;
      if (tmex.TMSetup(s) != 1) break;
      unsigned char state[15360] = {};
      int16_t rom[8];
      for (int i = 0; i < 8; ++i) rom[i] = chip->rom()[i];
      f.Check(tmex.TMRom(s, state, rom) == 1, "a ROM code is taken");
      for (const auto& command : CommandsFor(chip->family())) {
        if (tmex.TMStrongAccess(s, state) != 1) break;
        for (int b : command)
          for (int i = 0; i < std::max(1, -b); ++i) {
            const int16_t r = tmex.TMTouchByte(s, static_cast<int16_t>(b < 0 ? 0xFF : b));
            f.Check(r >= -99 && r <= 0xFF, "a byte or an error number");
          }
        clock.AdvanceMs(800);  // the longest conversion
      }
      tmex.TMEndSession(s);
    }
    clock.AdvanceMs(7u * 3600u * 1000u);  // the programs hours later
  }
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzStation)
