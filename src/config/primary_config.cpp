// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/primary_config.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "channels/channel_table.h"
#include "platform/file_checks.h"
#include "platform/profile.h"
#include "tmex/crc.h"

namespace wx {
namespace {

constexpr const char* kMissingFile =
    "Unlike most programs from Heronmoor Software, an ini file is needed. It must be called "
    "WX118ini.txt and be in the same folder as WX118.exe.";
constexpr const char* kFaultyFile =
    "Unlike most programs from Heronmoor Software, an ini file is needed. It must be called "
    "WX118ini.txt and be in the same folder as WX118.exe. It was present, but fatally faulty. "
    "(Check error messages).";
constexpr const char* kClosing =
    "Program will now terminate... it may take as long as it takes your system to scan the old "
    "data.";
constexpr const char* kBadIdent =
    "The first line of \"WX118ini.txt\" must read abWX118ini (exactly that, with nothing before "
    "or after it). The first line of this file is something else, so it does not seem to be a "
    "WX118 ini file. Application will terminate.";
constexpr const char* kBadPort =
    "3rd char of line \"h\" sets the port the adapter is on. It doesn't seem to be a digit. "
    "Application will terminate.";
constexpr const char* kBadType =
    "3rd char of line \"i\" sets the adapter type code. It doesn't seem to be a digit. "
    "Application will terminate.";
constexpr const char* kPassiveAdapter =
    "It may be that you can't read DS18x20s (i.e.1820, 18S20, 18B20...), or even some other "
    "sensor chips with a 'U-less' DS9097 (but 9097-U should be okay). Temperature may be "
    "returned as 0 deg C (32 deg F). If you can switch to a 9097-U, or other adapter, do. If "
    "not, you may find that other sensors work. Please investigate, and advise prgm author?"
    " Also: Are you using parasitic power, or have you given the 1820 external power?";
constexpr const char* kUnexpectedType =
    "Line \"i\" of your WX118ini.txt file says that you have\r"
    "an adapter type of something other than 1 or 5. This is\r"
    "unexpected. There is no harm in trying to run the program, but\r"
    "it may not work. If it DOES work, please contact the author, tell\r"
    "him the ID number for the type of adapter you are using sucessfully.";
constexpr const char* kBadTableLetter =
    "Error in ini file. Third letter of line \"u\" parameter must be a,b,c,d,e,f or g. Sets "
    "which lookup table is used when translating wind direction reading to traditional "
    "direction names.";
constexpr const char* kBadOffsetLetter =
    "Error in ini file. Second letter of line \"u\" parameter must be a,b,c..m,n,o or p. "
    "Compensates for amount wind director sensor was rotated when it wa mounted.";

constexpr int kFirstSensorLine = 10;  // line k
constexpr int kMinSensorLineLength = 22;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::optional<char> CharAt(const std::string& line, size_t pos1) {
  if (pos1 == 0 || pos1 > line.size()) return std::nullopt;
  return line[pos1 - 1];
}

std::optional<int> DigitAt(const std::string& line, size_t pos1) {
  const auto c = CharAt(line, pos1);
  if (!c || *c < '0' || *c > '9') return std::nullopt;
  return *c - '0';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char u = Upper(c);
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

// The family code is the last byte of the identity, two hex digits.
bool FamilyAccepted(int channel, const std::string& family) {
  if (family.size() != 2 || HexValue(family[0]) < 0 || HexValue(family[1]) < 0) return false;
  return AcceptsFamily(channel, static_cast<uint8_t>(HexValue(family[0]) * 16 + HexValue(family[1])));
}

// digitemp and owdir print an ID family byte first and CRC byte last, the
// reverse of this file's order. When the ID read the other way round is a
// sound ROM code for the channel, the line as it should be written.
std::optional<std::string> ReversedIdLine(int channel, const std::string& line) {
  if (line.size() < 19) return std::nullopt;
  std::array<uint8_t, 8> rom{};  // in the order the ID is written
  for (size_t i = 0; i < 8; ++i) {
    const int hi = HexValue(line[3 + 2 * i]), lo = HexValue(line[4 + 2 * i]);
    if (hi < 0 || lo < 0) return std::nullopt;
    rom[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  if (Crc8(rom.data(), rom.size()) != 0 || !AcceptsFamily(channel, rom[0])) return std::nullopt;
  std::string fixed = line;
  for (size_t i = 0; i < 8; ++i) fixed.replace(3 + 2 * i, 2, line.substr(3 + 2 * (7 - i), 2));
  return fixed;
}

}  // namespace

std::string QuotableChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string(1, c);
  char buf[16];
  std::snprintf(buf, sizeof buf, "byte $%02X", u);
  return buf;
}

bool LoadPrimaryConfig(StationConfig& station, const std::filesystem::path& file, Ui& ui,
                       ErrorSink& errors) {
  const FileText read = ReadWholeFile(file, kMaxConfigFileBytes);
  if (!read.ok) {
    // Where it was looked for and why it could not be used.
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::absolute(file, ec).lexically_normal();
    ui.ShowMessage(std::string(kMissingFile) + " (Looked for " + real.filename().string() + " in the folder " +
                   real.parent_path().string() + ": " + read.reason + ".)");
    ui.ShowMessage(kClosing);
    ui.Terminate();
    return false;
  }
  const std::string& content = read.text;
  const std::vector<std::string> lines = SplitTextLines(content);
  bool sound = true;

  const auto letterOf = [](int index) { return std::string(1, static_cast<char>('a' + index)); };
  const auto present = [&](int index) { return index < static_cast<int>(lines.size()); };

  // Every line is read by its position, so a short file cannot be used.
  if (!present(kPrimaryLineCount - 1)) {
    const int missing = static_cast<int>(lines.size());
    ui.ShowMessage("WX118ini.txt is too short: line \"" + letterOf(missing) +
                   "\" (line " + std::to_string(missing + 1) +
                   " of the file) is missing. The file must have the 23 lines a through w. "
                   "Application will terminate.");
    sound = false;
  }

  if (present(0) && lines[0] != kPrimaryIdentText) {
    ui.ShowMessage(kBadIdent);
    sound = false;
  }

  if (present(7)) {
    if (const auto port = DigitAt(lines[7], 3)) {
      station.adapterPort = *port;
    } else {
      ui.ShowMessage(kBadPort);
      sound = false;
    }
  }

  if (present(8)) {
    if (const auto type = DigitAt(lines[8], 3)) {
      station.adapterType = *type;
      if (*type == 1)
        ui.ShowMessage(kPassiveAdapter);
      else if (*type != 5)
        ui.ShowMessage(kUnexpectedType);
    } else {
      ui.ShowMessage(kBadType);
      sound = false;
    }
  }

  // Line letters: the first wrong one is reported and ends the check.
  for (int i = kFirstSensorLine; sound && i < kPrimaryLineCount; ++i) {
    const std::string& line = lines[i];
    const auto first = CharAt(line, 1);
    const auto second = CharAt(line, 2);
    if (!first || Upper(*first) != Upper('a' + i) || !second || *second != ' ') {
      ui.ShowMessage("Edit your WX118ini.txt file. The line that should have started with a \"" +
                     letterOf(i) + "\" and a space didn't.");
      sound = false;
    }
  }

  // Syntax of the enable letter, the length and the sixteen hex digits.
  for (int i = kFirstSensorLine; sound && i < kPrimaryLineCount; ++i) {
    const std::string& line = lines[i];
    const auto flag = CharAt(line, 3);
    if (!flag || (Upper(*flag) != 'E' && Upper(*flag) != 'D')) {
      ui.ShowMessage(
          "Edit your WX118ini.txt file. On lines k through w, the third character must always be "
          "an \"e\" or a \"d\" (for enable or disable). On line \"" +
          letterOf(i) +
          "\" it was something else. Check the other lines, too, yourself, before running "
          "program again.");
      sound = false;
    }
    if (line.size() < kMinSensorLineLength) {
      ui.ShowMessage("Line \"" + letterOf(i) + "\" is too short.");
      sound = false;
    }
    if (!sound) break;
    for (size_t pos = 4; pos <= 19; ++pos) {
      if (HexValue(line[pos - 1]) < 0) {
        ui.ShowMessage("On line \"" + letterOf(i) + "\" there is an invalid character (" +
                       QuotableChar(line[pos - 1]) +
                       ") in the chip ID. (Only 0-9, a-f, A-F allowed.)");
        sound = false;
        break;
      }
    }
  }

  // Fields of every sensor line, whatever the checks above found.
  for (int i = kFirstSensorLine; i < kPrimaryLineCount; ++i) {
    const int ch = i - kFirstSensorLine;
    station.sensorEnabled[ch] = false;
    if (!present(i)) {
      station.sensorIdText[ch].clear();
      if (ReadsCounter(ch)) station.counterPage[ch] = Channel(ch).counterPage;
      continue;
    }
    const std::string& line = lines[i];
    station.sensorIdText[ch] = line.size() > 3 ? line.substr(3, 16) : std::string();
    const auto flag = CharAt(line, 3);
    station.sensorEnabled[ch] = flag && Upper(*flag) == 'E';

    std::string family;
    for (size_t pos = 18; pos <= 19; ++pos)
      if (const auto c = CharAt(line, pos)) family += Upper(*c);
    if (station.sensorEnabled[ch] && !FamilyAccepted(ch, family)) {
      const std::optional<std::string> reversed = ReversedIdLine(ch, line);
      errors.ShowError(
          "The chip type, as defined by the last byte of the id specified, was not acceptable. "
          "This problem arose from line " +
          letterOf(i) + " of WX118ini.txt. The program will run, but this parameter will not be "
          "monitored." +
          (reversed ? " The ID seems written family byte first, as digitemp and owdir print it; this "
                      "file wants the CRC byte first: \"" + *reversed + "\""
                    : std::string()));
      station.sensorEnabled[ch] = false;
    }

    if (ReadsCounter(ch)) {
      // "z" picks the chip's other counter page.
      const auto sel = CharAt(line, 22);
      station.counterPage[ch] = (sel && *sel == 'z') ? kOtherCounterPage : Channel(ch).counterPage;
    }

    if (ch == 10 && station.sensorEnabled[ch]) {
      static const std::string tables = "ABCDEFG";
      static const std::string offsets = "ABCDEFGHIJKLMNOP";
      const auto t = CharAt(line, 22);
      const size_t ti = t ? tables.find(Upper(*t)) : std::string::npos;
      if (ti != std::string::npos)
        station.windTable = static_cast<uint8_t>(ti);
      else
        ui.ShowMessage(kBadTableLetter);
      const auto o = CharAt(line, 21);
      const size_t oi = o ? offsets.find(Upper(*o)) : std::string::npos;
      if (oi != std::string::npos)
        station.windOffset = static_cast<uint8_t>(oi);
      else
        ui.ShowMessage(kBadOffsetLetter);
    }
  }

  if (!sound) {
    ui.ShowMessage(kFaultyFile);
    ui.ShowMessage(kClosing);
    ui.Terminate();
  }
  return sound;
}

void ConvertSensorIds(StationConfig& station) {
  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string& id = station.sensorIdText[ch];
    for (int k = 1; k <= 8; ++k) {
      const size_t pos = static_cast<size_t>(2 * (k - 1));
      int hi = -1, lo = -1;
      if (pos + 1 < id.size()) {
        hi = HexValue(id[pos]);
        lo = HexValue(id[pos + 1]);
      }
      station.sensorRom[ch][8 - k] = (hi < 0 || lo < 0) ? 0 : static_cast<uint8_t>(hi * 16 + lo);
    }
  }
}

}  // namespace wx
