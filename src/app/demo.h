// SPDX-License-Identifier: GPL-2.0-or-later
// Writing a station: the primary file "WX118ini.txt" and the matching
// simulated-station file for a set of chips, and the complete demo
// installation that `wx118 --demo` creates and runs.
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tmex/tmex.h"

namespace wx {

// One channel of the station: its number 0..12 and the family code of its chip
// as the primary file writes it ("10", "28", "26", "1D", "20"). `program` is
// what the simulated chip does: "QUANTITY PROGRAM" and "fault FAULT" entries
// in station-file syntax, separated by ";"; empty picks a plain value.
struct ChannelChip {
  int channel = 0;
  std::string family;
  std::string program;
};

class StationWriter {
 public:
  StationWriter() = default;
  explicit StationWriter(std::vector<ChannelChip> chips) : chips_(std::move(chips)) {}
  // One chip of the right kind for every channel.
  static std::vector<ChannelChip> AllChannels();

  // The 8 ROM bytes (byte 0 = family code, byte 7 = CRC8) of a channel's chip.
  std::array<uint8_t, 8> Rom(int channel) const;
  // The 16 hex digits as the primary file writes them: CRC byte first.
  std::string IdText(int channel) const;

  std::string PrimaryText() const;
  std::string StationText() const;
  void WritePrimary(const std::filesystem::path& file) const;
  void WriteStationFile(const std::filesystem::path& file) const;
  // A TMEX backend factory serving the station file (nullptr backends when it
  // cannot be loaded; the error goes to `error` when given).
  static BackendFactory MakeFactory(const std::filesystem::path& stationFile, const Clock& clock,
                                    std::string* error = nullptr);

  const std::vector<ChannelChip>& chips() const { return chips_; }

 private:
  const ChannelChip* Find(int channel) const;
  std::vector<ChannelChip> chips_;
};

struct DemoPaths {
  std::filesystem::path dir, root, www, primary, station, secondary;
};

// Creates what is missing of a demo installation in dir; never overwrites a
// file that exists, so a second run keeps the user's log and changes.
DemoPaths WriteDemoInstallation(const std::filesystem::path& dir);


}  // namespace wx
