// SPDX-License-Identifier: GPL-2.0-or-later
// The primary file "WX118ini.txt": any bytes as the file. A refused file must
// say why and ask to terminate; an accepted one must leave a station whose
// every value is in its range and whose identities convert back to the text.
#include <cstdio>
#include <set>

#include "channels/channel_table.h"
#include "config/primary_config.h"
#include "fuzz/fuzz_support.h"

namespace wx::fuzz {
namespace {

std::string HexOfRom(const std::array<uint8_t, 8>& rom) {
  std::string s;
  char buf[3];
  for (int i = 7; i >= 0; --i) {
    std::snprintf(buf, sizeof buf, "%02X", rom[i]);
    s += buf;
  }
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

std::string FuzzPrimaryConfig(const uint8_t* data, size_t size) {
  Findings f;
  const TempDir& dir = Scratch();
  if (!dir.ok()) return {};
  const std::string text(AsText(data, size));
  const auto file = dir.Write("WX118ini.txt", text);

  StationConfig station;  // windTable 0 and windOffset 9, as the defaults leave them
  ScriptedUi ui;
  RecordingErrors errors;
  const bool sound = LoadPrimaryConfig(station, file, ui, errors);

  f.Check(sound == !ui.TerminateRequested(), "termination requested exactly when the file is refused");
  f.Check(sound || !ui.messages.empty(), "a refused file is explained");
  f.Check(ReadFile(file) == text, "the file is left as it was");
  f.Check(station.windTable <= 6, "wind table 0..6");
  f.Check(station.windOffset <= 15, "wind offset 0..15");
  f.Check(errors.errors.size() <= static_cast<size_t>(kChannels), "at most one family fault per channel");
  for (int ch = 0; ch < kChannels; ++ch) {
    f.Check(station.sensorIdText[ch].size() <= 16, "identity text of at most 16 characters");
    if (ReadsCounter(ch))
      f.Check(station.counterPage[ch] == Channel(ch).counterPage || station.counterPage[ch] == kOtherCounterPage,
              "counter page 14 or 15");
  }

  if (sound) {
    f.Check(text.rfind(kPrimaryIdentText, 0) == 0, "an accepted file starts with its identification line");
    f.Check(station.adapterPort >= 0 && station.adapterPort <= 9, "port 0..9");
    f.Check(station.adapterType >= 0 && station.adapterType <= 9, "adapter type 0..9");
    ConvertSensorIds(station);
    for (int ch = 0; ch < kChannels; ++ch) {
      const std::string& id = station.sensorIdText[ch];
      f.Check(id.size() == 16, "an accepted file has sixteen identity digits on every sensor line");
      f.Check(Upper(id) == HexOfRom(station.sensorRom[ch]), "the ROM code converts back to its identity");
      if (station.sensorEnabled[ch])
        f.Check(AcceptsFamily(ch, station.sensorRom[ch][0]), "an enabled channel has an accepted family code");
    }
  } else {
    // Whatever was refused, the identities convert without fault.
    ConvertSensorIds(station);
  }
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzPrimaryConfig)
