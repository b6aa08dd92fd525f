// SPDX-License-Identifier: GPL-2.0-or-later
#include "onewire/bus_scan.h"

#include <cstdio>
#include <sstream>

#include "channels/channel_table.h"
#include "onewire/ownet_calls.h"
#include "onewire/owserver_chip_bus.h"
#include "tmex/crc.h"

namespace wx {

namespace {

constexpr size_t kMostChips = 64;  // a line that seems to hold more is faulty

const char* ChipType(uint8_t family) {
  switch (family) {
    case kFamilyDs18s20: return "DS18S20";
    case kFamilyDs18b20: return "DS18B20";
    case kFamilyDs2438: return "DS2438";
    case kFamilyDs2423: return "DS2423";
    case kFamilyDs2450: return "DS2450";
    default: return "unknown";
  }
}

}  // namespace

std::optional<std::vector<ScannedRom>> SearchLine(BusBackend& backend, std::string& why) {
  std::vector<ScannedRom> roms;
  ScannedRom rom{};
  int lastDiscrepancy = -1;
  do {
    const int presence = backend.Reset();
    if (presence < 0) {
      why = "the adapter failed at a reset: " + backend.LastError();
      return std::nullopt;
    }
    if (presence == 0) break;  // nobody on the line
    if (backend.TouchByte(0xF0) != 0xF0) {
      why = "the adapter did not send Search ROM: " + backend.LastError();
      return std::nullopt;
    }
    int lastZero = -1;
    for (int bit = 0; bit < 64; ++bit) {
      const int id = backend.TouchBit(1), complement = backend.TouchBit(1);
      if (id < 0 || complement < 0) {
        why = "the adapter failed during the search: " + backend.LastError();
        return std::nullopt;
      }
      if (id == 1 && complement == 1) {
        why = "the chips stopped answering during the search (a noisy line?)";
        return std::nullopt;
      }
      int direction = id;
      if (id == complement) {  // chips with either bit: take the 1 branch once the 0 one was done
        direction = bit < lastDiscrepancy ? (rom[size_t(bit / 8)] >> (bit % 8)) & 1 : bit == lastDiscrepancy;
        if (direction == 0) lastZero = bit;
      }
      auto& byte = rom[size_t(bit / 8)];
      byte = uint8_t(direction ? byte | (1 << (bit % 8)) : byte & ~(1 << (bit % 8)));
      if (backend.TouchBit(direction) < 0) {
        why = "the adapter failed during the search: " + backend.LastError();
        return std::nullopt;
      }
    }
    if (Crc8(rom.data(), rom.size()) != 0) {
      why = "the search read a chip ID whose CRC does not hold (a noisy line?)";
      return std::nullopt;
    }
    roms.push_back(rom);
    lastDiscrepancy = lastZero;
  } while (lastDiscrepancy >= 0 && roms.size() < kMostChips);
  return roms;
}

std::optional<std::vector<ScannedRom>> ListOwserver(const std::string& address, std::string& why) {
  if (!LoadOwnet(why)) return std::nullopt;
  OwserverConnection connection(address);
  const auto answers = connection.Run({{OwserverConnection::Call::kList, "/uncached/", {}}}, nullptr);
  if (!answers || answers->empty() || answers->back().code < 0) {
    why = "owserver " + address + " does not answer";
    return std::nullopt;
  }
  // "/10.12AB00000000,/28.34CD00000000,/bus.0,...": the chips are the
  // entries of two and twelve hex digits.
  std::vector<ScannedRom> roms;
  std::stringstream list(answers->back().bytes);
  std::string entry;
  while (std::getline(list, entry, ',')) {
    const size_t slash = entry.rfind('/');
    if (slash != std::string::npos) entry.erase(0, slash + 1);
    if (entry.size() != 15 || entry[2] != '.') continue;
    ScannedRom rom{};
    bool hex = true;
    for (size_t i = 0; i < 7 && hex; ++i) {
      const std::string pair = i == 0 ? entry.substr(0, 2) : entry.substr(1 + 2 * i, 2);
      hex = pair.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
      if (hex) rom[i] = uint8_t(std::stoul(pair, nullptr, 16));
    }
    if (!hex) continue;
    rom[7] = Crc8(rom.data(), 7);
    roms.push_back(rom);
    if (roms.size() >= kMostChips) break;
  }
  return roms;
}

std::string PrimaryIdText(const ScannedRom& rom) {
  char text[17];
  for (size_t i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", rom[7 - i]);
  return text;
}

ScanDraft DraftPrimaryFile(const std::vector<ScannedRom>& roms) {
  // Each family fills its channels in this order; a DS2438 is guessed a
  // pressure, then humidity, then a temperature.
  std::array<std::string, kChannels> lines;
  std::array<bool, kChannels> used{};
  auto take = [&](std::initializer_list<int> order) -> int {
    for (int ch : order)
      if (!used[size_t(ch)]) return used[size_t(ch)] = true, ch;
    return -1;
  };
  ScanDraft d;
  for (const ScannedRom& rom : roms) {
    int ch = -1;
    std::string note;
    switch (rom[0]) {
      case kFamilyDs18s20:
      case kFamilyDs18b20:
        ch = take({0, 1, 2, 3, 4});
        note = "a temperature";
        break;
      case kFamilyDs2438:
        ch = take({8, 9, 0, 1, 2, 3, 4});
        note = "guessed: a DS2438 may be pressure (s), humidity (t) or a temperature (k..o)";
        break;
      case kFamilyDs2423:
        ch = take({5, 6, 7, 11, 12});
        note = "guessed: rain (p), wind speed (q), lightning (r) or on/off (v, w) cannot be told by the chip; "
               "counter A, z in column 22 for counter B";
        break;
      case kFamilyDs2450:
        ch = take({10});
        note = "wind direction; offset and table letters (columns 21, 22) guessed as a";
        break;
      default:
        note = "no channel reads this family";
        break;
    }
    const std::string id = PrimaryIdText(rom);
    char family[4];
    std::snprintf(family, sizeof family, "%02X", rom[0]);
    std::string entry = id + "  " + family + "  " + ChipType(rom[0]) + "  ";
    if (ch >= 0) {
      const std::string tail = ch == 10 ? "aa" : Channel(ch).counterPage ? "-a" : "--";
      lines[size_t(ch)] = std::string(1, char('k' + ch)) + " e" + id + " " + tail + "  " +
                          std::string(Channel(ch).displayName);
      entry += lines[size_t(ch)] + "  (" + note + ")";
    } else if (rom[0] == kFamilyDs18s20 || rom[0] == kFamilyDs18b20 || rom[0] == kFamilyDs2438 ||
               rom[0] == kFamilyDs2423 || rom[0] == kFamilyDs2450) {
      entry += "(no channel left for it)";
    } else {
      entry += "(" + note + ")";
    }
    d.listing.push_back(entry);
  }
  std::string f =
      "abWX118ini\r\nWX118 primary file drafted by wx118 scan: check the channel of every line\r\n"
      "(free text)\r\n-\r\n-\r\n-\r\n-\r\nh 1   port digit (the DS9097U route)\r\n"
      "i 5   adapter type (5 = DS9097U)\r\n-\r\n";
  for (int ch = 0; ch < kChannels; ++ch)
    f += (lines[size_t(ch)].empty() ? std::string(1, char('k' + ch)) + " d0000000000000000 --  not monitored"
                                    : lines[size_t(ch)]) +
         "\r\n";
  d.primaryFile = f;
  return d;
}

}  // namespace wx
