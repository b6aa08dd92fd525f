// SPDX-License-Identifier: GPL-2.0-or-later
// The bus scan: every chip on the line, through the adapter (a Search ROM
// over its backend) or through owserver, and a draft primary file with a
// channel guessed for each chip from its family.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tmex/bus_backend.h"

namespace wx {

using ScannedRom = std::array<uint8_t, 8>;  // byte 0 the family, byte 7 the CRC

// Every ROM on the line, in search order; nullopt with why on a fault.
std::optional<std::vector<ScannedRom>> SearchLine(BusBackend& backend, std::string& why);
// Every chip owserver at address lists; nullopt with why when it does not answer.
std::optional<std::vector<ScannedRom>> ListOwserver(const std::string& address, std::string& why);

// The ID as the primary file wants it: CRC byte first, family byte last.
std::string PrimaryIdText(const ScannedRom& rom);

struct ScanDraft {
  // One line per chip: ID, family, chip type and the draft sensor line, or
  // why it has none.
  std::vector<std::string> listing;
  // The whole draft primary file (CR LF line ends).
  std::string primaryFile;
};
ScanDraft DraftPrimaryFile(const std::vector<ScannedRom>& roms);

}  // namespace wx
