// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/secondary_config.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <system_error>

#include "platform/file_checks.h"
#include "platform/numeric_text.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"

namespace wx {
namespace {

constexpr const char* kIni = "In WX118ini2.txt, ";

constexpr const char* kOlderFormat =
    "In November 2009 the format of the secondary ini file (WX118ini2.txt), and the commands "
    "allowed in it, changed. Old files began \"ab WX118ini2\". If you have an old file, please "
    "read the online manual of WX118 for the new format. The \"[wp1spa]0,0,799,370\" style "
    "commands have been replaced by the [WindowPosnsAndSizes] section, with keys like "
    "\"SchemeAW1=0,0,799,370\". The \"[clP0xx]\" commands have been replaced by the "
    "[ChannelColors] section. The \"[p0OffS] 190, .4\" commands are being replaced by the "
    "[LineOffsetScale] section, where one old command becomes two keys: the first shifts the "
    "plot up or down the screen, the second scales it.";

std::string ChannelKey(int channel, const char* suffix) {
  return "p" + std::to_string(channel) + suffix;
}

std::optional<double> ParseReal(std::string text) {
  text = std::string(Trim(text));
  if (!text.empty() && text.front() == '+') text.erase(text.begin());
  double v = 0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, v);
  if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return std::nullopt;
  return v;
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Reads an unsigned 16-bit plot value; out-of-range values are refused.
void ReadPlotValue(const ProfileFile& ini, int ch, const char* suffix, uint16_t& target, Ui& ui) {
  const std::string key = ChannelKey(ch, suffix);
  const int32_t v = ini.ReadInteger("LineOffsetScale", key, target);
  if (v < 0 || v > 65535) {
    ui.ShowMessage(std::string(kIni) + "[LineOffsetScale] " + key + "=" + std::to_string(v) +
                   " is outside 0..65535. That value was not used; channel " + std::to_string(ch) +
                   " keeps " + std::to_string(target) + ".");
    return;
  }
  target = static_cast<uint16_t>(v);
}

}  // namespace

uint32_t ParseColourSpec(int channel, const std::string& text, Ui& ui) {
  std::string bgr;
  if (text.size() == 7 && (text[0] == 'S' || text[0] == 's')) {
    bgr = text.substr(1);
  } else {
    std::string rgb = text;
    if (rgb.size() < 6) rgb.insert(0, 6 - rgb.size(), '0');
    bgr = rgb.substr(4, 2) + rgb.substr(2, 2) + rgb.substr(0, 2);
  }
  uint32_t colour = 0;
  for (char c : bgr) {
    if (!IsHex(c)) {
      ui.ShowMessage(
          "Only 0-9, A-F allowed in color spec lines. (Do not prefix with \"$\" or do anything "
          "else to say the number is in hex.) (Color spec line: One in the [ChannelColors] "
          "section of ini2.)");
      return kNoColour;
    }
    colour = colour * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  if (colour == 0xFFFFFF) {
    const std::string ch = std::to_string(channel);
    ui.ShowMessage("Are you sure you want to set channel " + ch + "'s color to white? (See \"p" +
                   ch + "=\" line in ini2, [ChannelColors] section. $FFFFFF = white)");
  }
  return colour;
}

bool ParseRectList(SchemeRects& rects, int scheme, int window, const std::string& text) {
  std::string rest = text + ",";
  std::array<int32_t, 4> values{};
  for (int32_t& value : values) {
    const size_t comma = rest.find(',');
    if (comma == std::string::npos) return false;
    const auto v = ParseProfileInt(Trim(std::string_view(rest).substr(0, comma)));
    if (!v) return false;
    value = *v;
    rest.erase(0, comma + 1);
  }
  rects[scheme][window] = WindowRect{values[0], values[1], values[2], values[3]};
  return true;
}

std::optional<ProfileFile> SecondaryProfile(const Settings& settings, const PathMapper& paths) {
  const FileText read = ReadWholeFile(paths.Map(settings.files.secondaryConfig), kMaxConfigFileBytes);
  if (!read.ok) return std::nullopt;
  return ProfileFile::FromText(read.text);
}

bool LoadSecondaryConfig(Settings& settings, NumericView& numeric, const std::string& buCorFCaption,
                         const PathMapper& paths, const Clock& clock, Ui& ui, ErrorSink& errors) {
  bool configOk = true;
  const std::filesystem::path file = paths.Map(settings.files.secondaryConfig);
  const FileText read = ReadWholeFile(file, kMaxConfigFileBytes);
  if (read.missing) return true;
  // A file that is there but cannot be read is as unusable as one without
  // its header: the same fatal end, with the reason.
  if (!read.ok) {
    ui.ShowMessage("Secondary ini file (WX118ini2.txt) must begin 'abWX118ini2' (" +
                   paths.Shown(settings.files.secondaryConfig) +
                   ": " + read.reason + ")");
    ui.ShowMessage(kSecondaryClosingMessage);
    ui.Terminate();
    return false;
  }
  const std::string& content = read.text;
  const ProfileFile ini = ProfileFile::FromText(content);
  PlotConfig& plot = settings.plot;
  PageConfig& page = settings.page;

  page.imageFileName = ini.ReadString("enis", "wgi", "WX118WG.jpg");
  page.imageIntervalSeconds = ini.ReadInteger("enis", "iri", 0);
  page.imageIntervalDays = SecondsToDays(page.imageIntervalSeconds);

  for (int ch = 0; ch <= 4; ++ch)
    plot.channelLabel[ch] = ini.ReadString("FieldLabels", ChannelKey(ch, "fL"), plot.channelLabel[ch]);
  for (int ch : {5, 6, 7, 8, 9, 11, 12})
    plot.channelLabel[ch] = ini.ReadString("FieldLabels", ChannelKey(ch, "fl"), plot.channelLabel[ch]);
  RefreshCaptions(plot.channelLabel, buCorFCaption, numeric);

  const std::string folder = ini.ReadString("swg", "wgp", "C:\\");
  if (folder.empty()) {
    ui.ShowMessage(std::string(kIni) + "[swg] wgp (the folder for the web page) is empty. The "
                   "folder " + page.pageFolder + " is used instead.");
  } else {
    page.pageFolder = folder.back() == '\\' ? folder : folder + "\\";
  }
  page.pageFileName = ini.ReadString("swg", "wgh", "WX118WG.htm");
  page.pageIntervalSeconds = ini.ReadInteger("swg", "hsi", 0);
  page.pageIntervalDays = SecondsToDays(page.pageIntervalSeconds);

  page.secondImageCaption = ini.ReadString("SecondImage", "jpg2caption", "");
  page.secondImageName = ini.ReadString("SecondImage", "jpg2name", "pgmroguenotfound.jpg");
  page.secondImageAlt =
      ini.ReadString("SecondImage", "jpg2alt",
                     "There is an image here which was not displayed. Maybe the ini2 settings are "
                     "bad?") +
      " (It may not have displayed if in wrong place or error exists in name spec.)";
  page.secondImageWidth = ini.ReadString("SecondImage", "jpg2width", "80");

  // A zero multiplier would divide by zero in the temperature and on/off
  // rows, so those channels keep their previous value.
  bool zeroMultiplier = false;
  for (int ch = 0; ch < kChannels; ++ch) {
    if (ch == 10) continue;
    ReadPlotValue(ini, ch, "a", plot.plotOffset[ch], ui);
    const uint16_t before = plot.plotMultiplier[ch];
    ReadPlotValue(ini, ch, "m", plot.plotMultiplier[ch], ui);
    if (plot.plotMultiplier[ch] == 0 && (ch <= 4 || ch == 11 || ch == 12)) {
      zeroMultiplier = true;
      plot.plotMultiplier[ch] = before;
    }
  }
  if (zeroMultiplier) ui.ShowMessage("Do not set the graph multiplier to zero");

  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string spec = ini.ReadString("ChannelColors", ChannelKey(ch, "c"), "-");
    if (spec == "-") continue;
    const uint32_t colour = ParseColourSpec(ch, spec, ui);
    if (colour < kNoColour) plot.channelColour[ch] = colour;
  }

  // A faulty rectangle is reported and that window keeps its rectangle; it
  // does not stop the program.
  static const char* const kSchemeKeys[2][3] = {{"SchemeAW1", "SchemeAW2", "SchemeAW3"},
                                                {"SchemeBW1", "SchemeBW2", "SchemeBW3"}};
  for (int scheme = 0; scheme < 2; ++scheme) {
    for (int window = 0; window < 3; ++window) {
      const std::string value = ini.ReadString("WindowPosnsAndSizes", kSchemeKeys[scheme][window], "9,9,9,9");
      if (value == "9,9,9,9") continue;
      if (!ParseRectList(settings.schemeRect, scheme, window, value))
        ui.ShowMessage(std::string("Problem with a WindowsPosnAndSize line. contact author, error "
                                   "15 Nov 2009") +
                       (scheme == 0 ? "a" : "b") + std::to_string(window + 1));
    }
  }

  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string bar = ini.ReadString("BarGraphs", ChannelKey(ch, "bg"), "-");
    if (bar.size() == 2 && (bar[0] | 0x20) == 'o' && (bar[1] | 0x20) == 'n') plot.barGraphOn[ch] = true;
  }
  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string key = ChannelKey(ch, "v1");
    const int32_t v = ini.ReadInteger("VariousOne", key, plot.variousOne1[ch]);
    if (v < 0 || v > 255) {
      ui.ShowMessage(std::string(kIni) + "[VariousOne] " + key + "=" + std::to_string(v) +
                     " is outside 0..255. That value was not used; channel " + std::to_string(ch) +
                     " keeps " + std::to_string(plot.variousOne1[ch]) + ".");
      continue;
    }
    plot.variousOne1[ch] = static_cast<uint8_t>(v);
  }

  std::vector<std::string> unitProblems;
  settings.units = ReadUnits(ini, unitProblems);
  for (const std::string& problem : unitProblems) ui.ShowMessage(problem);
  page.phonePage = ini.ReadInteger("PhonePage", "Index", 0) != 0;
  page.stationName = ini.ReadString("PhonePage", "Name", page.stationName);

  const std::string msg = ini.ReadString("HTMLMsg", "Msg", "");
  if (!msg.empty()) {
    page.pageMessage = msg;
    const auto days = ParseReal(ini.ReadString("HTMLMsg", "Persists", "0"));
    if (!days) {
      errors.ShowError("Try again. Enter a number.");
    } else if (*days > 0) {
      page.pageMessageExpiry = clock.Now() + *days;
    } else if (*days == 0) {
      page.pageMessageExpiry = 0;
    }
  }

  // The header is checked last: the values above are in effect either way.
  const size_t end = content.find_first_of("\r\n");
  const std::string first = content.substr(0, end);
  if (first.compare(0, 11, kSecondaryHeader) != 0) {
    configOk = false;
    ui.ShowMessage("Secondary ini file (WX118ini2.txt) must begin 'abWX118ini2'");
    if (first.compare(0, 2, "aa") == 0) ui.ShowMessage(kOlderFormat);
    ui.ShowMessage(kSecondaryClosingMessage);
    ui.Terminate();
  }
  return configOk;
}

}  // namespace wx
