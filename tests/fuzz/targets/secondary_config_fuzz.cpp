// SPDX-License-Identifier: GPL-2.0-or-later
// The secondary file "WX118ini2.txt" with the profile reader under it: any
// bytes as the file. The load must decide by the header alone, and leave
// every value it applied in a usable form.
#include <climits>
#include <cmath>
#include <cstdio>

#include "platform/numeric_text.h"
#include "config/secondary_config.h"
#include "fuzz/fuzz_support.h"
#include "platform/profile.h"
#include "upload/upload_settings.h"

namespace wx::fuzz {
namespace {

constexpr const char* kAltSuffix =
    " (It may not have displayed if in wrong place or error exists in name spec.)";

bool HasLineEnd(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Integers written in each of the forms the reader accepts come back whole.
void CheckIntegerForms(int32_t v, Findings& f) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(v));
  f.Check(ParseProfileInt(std::to_string(v)) == v, "decimal integer reads back");
  f.Check(ParseProfileInt(std::string("$") + hex) == v, "$-hexadecimal integer reads back");
  f.Check(ParseProfileInt(std::string("0x") + hex) == v, "0x-hexadecimal integer reads back");
}

}  // namespace

std::string FuzzSecondaryConfig(const uint8_t* data, size_t size) {
  Findings f;
  const TempDir& root = Scratch();
  if (!root.ok()) return {};
  const std::string text(AsText(data, size));
  const auto file = root.Write("c/WX118/WX118ini2.txt", text);

  Settings settings;
  ApplyDefaults(settings);
  SetDefaultChannelLabels(settings.plot);
  const Settings before = settings;
  NumericView numeric;
  PathMapper paths(root.path());
  FakeClock clock;
  ScriptedUi ui;
  RecordingErrors errors;
  const bool ok =
      LoadSecondaryConfig(settings, numeric, kShowCelsiusCaption, paths, clock, ui, errors);

  f.Check(ok == (text.rfind(kSecondaryHeader, 0) == 0), "accepted exactly when the header is right");
  f.Check(ok == !ui.TerminateRequested(), "termination requested exactly when refused");
  f.Check(ReadFile(file) == text, "the file is left as it was");

  const PlotConfig& plot = settings.plot;
  for (int ch = 0; ch < kChannels; ++ch) {
    f.Check(plot.channelColour[ch] <= 0xFFFFFF, "colours are 0x00BBGGRR values");
    f.Check(plot.channelLabel[ch].size() <= ProfileFile::kMaxValueLength, "labels are cut at 2047");
    f.Check(!HasLineEnd(plot.channelLabel[ch]), "labels are one line");
    if (ch <= 4 || ch == 11 || ch == 12)
      f.Check(plot.plotMultiplier[ch] != 0, "no zero multiplier reaches the temperature and on/off rows");
    if (ch == 10) {
      f.Check(plot.plotOffset[ch] == before.plot.plotOffset[ch] &&
                  plot.plotMultiplier[ch] == before.plot.plotMultiplier[ch],
              "channel 10 has no offset or multiplier keys");
    }
  }

  const PageConfig& page = settings.page;
  f.Check(!page.pageFolder.empty() && page.pageFolder.back() == '\\', "the page folder ends with a backslash");
  f.Check(page.pageIntervalDays == SecondsToDays(page.pageIntervalSeconds), "page interval in days matches");
  f.Check(page.imageIntervalDays == SecondsToDays(page.imageIntervalSeconds), "image interval in days matches");
  f.Check(std::isfinite(page.pageMessageExpiry) && page.pageMessageExpiry >= 0, "expiry is 0 or a date");
  if (page.pageMessageExpiry != 0)
    f.Check(page.pageMessageExpiry > clock.Now(), "a message expiry lies after the start");
  f.Check(page.secondImageAlt.size() >= std::char_traits<char>::length(kAltSuffix) &&
              page.secondImageAlt.compare(page.secondImageAlt.size() - std::char_traits<char>::length(kAltSuffix),
                                          std::string::npos, kAltSuffix) == 0,
          "the second image's alt text ends with its note");
  for (const std::string* s : {&page.pageFileName, &page.imageFileName, &page.secondImageName,
                               &page.secondImageCaption, &page.secondImageWidth, &page.pageMessage})
    f.Check(!HasLineEnd(*s) && s->size() <= ProfileFile::kMaxValueLength, "page values are one line, cut at 2047");

  // The captions of the numeric window follow the labels.
  for (int ch = 0; ch < 5; ++ch)
    f.Check(numeric.laTxtTture[ch].text.rfind(plot.channelLabel[ch], 0) == 0, "temperature captions follow the labels");

  // The profile reader on its own: values are trimmed to one line and cut.
  const ProfileFile ini = ProfileFile::FromText(text);
  for (const char* key : {"wgi", "wgp", "Msg", "p0c", "SchemeAW1", "p0fL"}) {
    for (const char* section : {"enis", "swg", "HTMLMsg", "ChannelColors", "WindowPosnsAndSizes", "FieldLabels"}) {
      const std::string v = ini.ReadString(section, key, "\x01");
      if (!ini.HasKey(section, key)) {
        f.Check(v == "\x01", "an absent key gives the default");
        continue;
      }
      f.Check(v.size() <= ProfileFile::kMaxValueLength && !HasLineEnd(v), "profile values are one line, cut at 2047");
      if (const auto n = ParseProfileInt(v)) f.Check(ini.ReadInteger(section, key, 7) == *n, "integer keys read as parsed");
    }
  }
  // The upload sections: whatever they say, a network that stays on has an
  // interval it accepts and an http(s) address or a server port.
  std::vector<std::string> uploadProblems;
  for (const UploadTarget& t : ReadUploadSettings(ini, paths, uploadProblems)) {
    f.Check(t.intervalSeconds >= MinimumIntervalOf(t.network), "no upload interval below the network's minimum");
    f.Check(!t.stationId.empty(), "every network that is on has a station id");
    if (t.network == Network::Cwop)
      f.Check(!t.host.empty() && t.port >= 1 && t.port <= 65535, "CWOP has a host and a port");
    else
      f.Check(t.url.rfind("http", 0) == 0 || t.url.rfind("HTTP", 0) == 0, "HTTP networks have an http(s) address");
  }
  int32_t probe = 0;
  for (size_t i = 0; i < 4 && i < size; ++i) probe = static_cast<int32_t>((static_cast<uint32_t>(probe) << 8) | data[i]);
  CheckIntegerForms(probe, f);
  CheckIntegerForms(probe == INT32_MIN ? probe : -probe, f);
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzSecondaryConfig)
