// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "platform/numeric_text.h"
#include "config/help_texts.h"
#include "config/secondary_config.h"
#include "mqtt/mqtt_settings.h"
#include "onewire/owserver_chip_bus.h"
#include "weather/station.h"
#include "platform/profile.h"
#include "support/fakes.h"

namespace wx {
namespace {

using RecordingSink = test::RecordingErrors;
using RecordingUi = test::ScriptedUi;
using test::TempDir;

struct SecondaryFixture : ::testing::Test {
  TempDir dir;
  PathMapper paths{dir.path()};
  FakeClock clock;
  RecordingUi ui;
  RecordingSink sink;
  Settings settings;
  Settings defaults;
  NumericView numeric;
  void SetUp() override {
    SetDefaultChannelLabels(settings.plot);
    ApplyDefaults(settings);
    defaults = settings;
  }
  bool Load(const std::string& content, const std::string& caption = "&Show Celcius") {
    dir.Write("c/WX118/WX118ini2.txt", content);
    return LoadSecondaryConfig(settings, numeric, caption, paths, clock, ui, sink);
  }
};

TEST_F(SecondaryFixture, MissingFileChangesNothing) {
  EXPECT_TRUE(LoadSecondaryConfig(settings, numeric, "&Show Celcius", paths, clock, ui, sink));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(settings.page.secondImageAlt, "There is an image here which was not displayed.");
  EXPECT_EQ(settings.schemeRect, defaults.schemeRect);
}

TEST_F(SecondaryFixture, HeaderOnlyFileKeepsDefaultsButDecoratesTheAltText) {
  EXPECT_TRUE(Load("abWX118ini2 anything after it"));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ui.terminateCalls, 0);
  EXPECT_EQ(settings.plot.channelColour, defaults.plot.channelColour);
  EXPECT_EQ(settings.page.pageFolder, "C:\\");
  EXPECT_EQ(settings.page.secondImageAlt,
            "There is an image here which was not displayed. Maybe the ini2 settings are bad? (It "
            "may not have displayed if in wrong place or error exists in name spec.)");
}

TEST_F(SecondaryFixture, BadHeadersEndTheLoadButValuesStand) {
  for (const std::string head : {"", "ABWX118INI2", "abWX118ini", " abWX118ini2"}) {
    ui.messages.clear();
    EXPECT_FALSE(Load(head + "\r\n[swg]\r\nwgh=page.htm\r\n")) << head;
    ASSERT_EQ(ui.messages.size(), 2u) << head;
    EXPECT_EQ(ui.messages[0], "Secondary ini file (WX118ini2.txt) must begin 'abWX118ini2'");
    EXPECT_EQ(ui.messages[1], kSecondaryClosingMessage);
    EXPECT_EQ(settings.page.pageFileName, "page.htm");
  }
  ui.messages.clear();
  EXPECT_FALSE(Load("aa WX118ini2\n"));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_NE(ui.messages[1].find("[WindowPosnsAndSizes]"), std::string::npos);
  EXPECT_EQ(ui.messages[2], kSecondaryClosingMessage);
  EXPECT_GE(ui.terminateCalls, 1);
}

TEST_F(SecondaryFixture, PageValues) {
  ASSERT_TRUE(Load("abWX118ini2\n[SWG]\nWGP=D:\\web\n hsi = 0x258\n[enis]\niri=ten\nwgi=g.jpg\n"
                   "[SecondImage]\njpg2width=50%\n"));
  EXPECT_EQ(settings.page.pageFolder, "D:\\web\\");
  EXPECT_EQ(settings.page.pageIntervalSeconds, 600);
  EXPECT_FLOAT_EQ(settings.page.pageIntervalDays, 600.0f / 86400.0f);
  EXPECT_EQ(settings.page.imageIntervalSeconds, 0);
  EXPECT_EQ(settings.page.imageFileName, "g.jpg");
  EXPECT_EQ(settings.page.secondImageWidth, "50%");
  ASSERT_TRUE(Load("abWX118ini2\n[swg]\nwgp=D:\\web\\\n"));
  EXPECT_EQ(settings.page.pageFolder, "D:\\web\\");
  ASSERT_TRUE(Load("abWX118ini2\n[swg]\nwgp=\n"));
  EXPECT_EQ(settings.page.pageFolder, "D:\\web\\");  // empty refused, previous kept
  ASSERT_EQ(ui.messages.size(), 1u);
}

TEST_F(SecondaryFixture, LabelsReachTheCaptionsWithTheUnitOnShow) {
  ASSERT_TRUE(Load("abWX118ini2\n[FieldLabels]\np0fL=Out   \np1fl=\"In \"\np5fl=Rain\np10fl=x\n",
                   "&Show F'heit"));
  EXPECT_EQ(numeric.laTxtTture[0].text, "Out(C)");
  EXPECT_EQ(numeric.laTxtTture[1].text, "In (C)");
  EXPECT_EQ(numeric.laTxtTture[2].text, "T2 (C)");
  EXPECT_EQ(numeric.laTxtRainfall.text, "Rain");
  EXPECT_EQ(settings.plot.channelLabel[10], "");
}

TEST_F(SecondaryFixture, OffsetsAndMultipliers) {
  ASSERT_TRUE(Load("abWX118ini2\n[LineOffsetScale]\np0a=190\np0m=0\np11m=0\np5m=0\np3a=70000\n"
                   "p4m=-1\np12a=$10\np10a=5\n"));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_NE(ui.messages[0].find("p3a=70000"), std::string::npos);
  EXPECT_NE(ui.messages[1].find("p4m=-1"), std::string::npos);
  EXPECT_EQ(ui.messages[2], "Do not set the graph multiplier to zero");
  const PlotConfig& p = settings.plot;
  EXPECT_EQ(p.plotOffset[0], 190);
  EXPECT_EQ(p.plotMultiplier[0], 10000);
  EXPECT_EQ(p.plotMultiplier[11], 10);
  EXPECT_EQ(p.plotMultiplier[5], 0);
  EXPECT_EQ(p.plotOffset[3], 0);
  EXPECT_EQ(p.plotMultiplier[4], 10000);
  EXPECT_EQ(p.plotOffset[12], 16);
  EXPECT_EQ(p.plotOffset[10], 0);
}

TEST(ParseColourSpecTest, OrderPaddingPrefixAndFaults) {
  RecordingUi ui;
  EXPECT_EQ(ParseColourSpec(0, "FF0000", ui), 0x0000FFu);
  EXPECT_EQ(ParseColourSpec(0, "S0000FF", ui), 0x0000FFu);
  EXPECT_EQ(ParseColourSpec(0, "s0080ff", ui), ParseColourSpec(0, "FF8000", ui));
  EXPECT_EQ(ParseColourSpec(0, "ff", ui), 0xFF0000u);
  EXPECT_EQ(ParseColourSpec(0, "123456789", ui), 0x563412u);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ParseColourSpec(3, "GG0000", ui), kNoColour);
  EXPECT_EQ(ParseColourSpec(3, "$FF0000", ui), kNoColour);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0],
            "Only 0-9, A-F allowed in color spec lines. (Do not prefix with \"$\" or do anything "
            "else to say the number is in hex.) (Color spec line: One in the [ChannelColors] "
            "section of ini2.)");
  EXPECT_EQ(ParseColourSpec(7, "ffffff", ui), 0xFFFFFFu);
  EXPECT_EQ(ui.messages.back(),
            "Are you sure you want to set channel 7's color to white? (See \"p7=\" line in ini2, "
            "[ChannelColors] section. $FFFFFF = white)");
}

TEST_F(SecondaryFixture, ColoursInTheFile) {
  ASSERT_TRUE(Load("abWX118ini2\n[channelcolors]\np0c=FF0000\np3c=GG0000\np5c=-\np12c=S00FF00\n"));
  EXPECT_EQ(settings.plot.channelColour[0], 0x0000FFu);
  EXPECT_EQ(settings.plot.channelColour[3], defaults.plot.channelColour[3]);
  EXPECT_EQ(settings.plot.channelColour[5], defaults.plot.channelColour[5]);
  EXPECT_EQ(settings.plot.channelColour[12], 0x00FF00u);
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(ParseRectListTest, FourNumbersOrNothing) {
  SchemeRects r{};
  EXPECT_TRUE(ParseRectList(r, 0, 0, "0,0,799,370,5"));
  EXPECT_EQ(r[0][0], (WindowRect{0, 0, 799, 370}));
  EXPECT_TRUE(ParseRectList(r, 1, 2, " 10, $20,-3 , 4"));
  EXPECT_EQ(r[1][2], (WindowRect{10, 32, -3, 4}));
  for (const char* bad : {"0,0,799", "1,2,x,4", "", "1,,3,4"}) {
    EXPECT_FALSE(ParseRectList(r, 0, 0, bad)) << bad;
    EXPECT_EQ(r[0][0], (WindowRect{0, 0, 799, 370})) << bad;
  }
}

TEST_F(SecondaryFixture, FaultySchemeLineKeepsThatRectangleAndTheProgramRuns) {
  ASSERT_TRUE(Load("abWX118ini2\n[WindowPosnsAndSizes]\nSchemeAW1=0,0,799\nSchemeAW2=9,9,9,9\n"
                   "SchemeBW3=1,2,3,4\n"));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "Problem with a WindowsPosnAndSize line. contact author, error 15 Nov 2009a1");
  EXPECT_EQ(settings.schemeRect[0], defaults.schemeRect[0]);
  EXPECT_EQ(settings.schemeRect[1][2], (WindowRect{1, 2, 3, 4}));
}

TEST_F(SecondaryFixture, BarGraphsAndVariousOne) {
  ASSERT_TRUE(Load("abWX118ini2\n[BarGraphs]\np5bg=on\np6bg=yes\np7bg=ON\n[VariousOne]\n"
                   "p11v1=2\np12v1=300\np12v2=9\n"));
  EXPECT_TRUE(settings.plot.barGraphOn[5]);
  EXPECT_FALSE(settings.plot.barGraphOn[6]);
  EXPECT_TRUE(settings.plot.barGraphOn[7]);
  EXPECT_EQ(settings.plot.variousOne1[11], 2);
  EXPECT_EQ(settings.plot.variousOne1[12], 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("p12v1=300"), std::string::npos);
}

TEST_F(SecondaryFixture, PageMessageAndPersistence) {
  settings.page.pageMessage = "default";
  settings.page.pageMessageExpiry = 5;
  ASSERT_TRUE(Load("abWX118ini2\n[HTMLMsg]\nMsg=Back soon\nPersists=0.25\n"));
  EXPECT_EQ(settings.page.pageMessage, "Back soon");
  EXPECT_DOUBLE_EQ(settings.page.pageMessageExpiry, clock.Now() + 0.25);
  ASSERT_TRUE(Load("abWX118ini2\n[HTMLMsg]\nMsg=Again\nPersists=soon\n"));
  EXPECT_EQ(sink.errors, std::vector<std::string>{"Try again. Enter a number."});
  EXPECT_DOUBLE_EQ(settings.page.pageMessageExpiry, clock.Now() + 0.25);
  ASSERT_TRUE(Load("abWX118ini2\n[HTMLMsg]\nMsg=x\nPersists=-1\n"));
  EXPECT_DOUBLE_EQ(settings.page.pageMessageExpiry, clock.Now() + 0.25);
  ASSERT_TRUE(Load("abWX118ini2\n[HTMLMsg]\nMsg=x\n"));
  EXPECT_EQ(settings.page.pageMessageExpiry, 0);
  settings.page.pageMessageExpiry = 3;
  ASSERT_TRUE(Load("abWX118ini2\n[HTMLMsg]\nMsg=\nPersists=soon\n"));
  EXPECT_EQ(settings.page.pageMessage, "x");
  EXPECT_EQ(settings.page.pageMessageExpiry, 3);
  EXPECT_EQ(sink.errors.size(), 1u);
}

TEST_F(SecondaryFixture, UnitsTurnRawValuesIntoPhysicalOnes) {
  ASSERT_TRUE(Load("abWX118ini2\n[swg]\nwgh=x.htm\n"));
  EXPECT_FALSE(ToPhysical(settings.units, 0, 21.5));  // no section: raw values only
  EXPECT_FALSE(settings.page.phonePage);
  ASSERT_TRUE(Load("abWX118ini2\n[units]\ntemperature=f\np5F=0.2794\np8o=800\np8f=+50\np8u=mbar\n"
                   "p9f=30\np6f=fast\n[PhonePage]\nIndex=1\n"));
  EXPECT_TRUE(settings.page.phonePage);
  const auto t = ToPhysical(settings.units, 3, -40.0);
  ASSERT_TRUE(t);
  EXPECT_DOUBLE_EQ(t->value, -40.0);
  EXPECT_EQ(t->unit, "°F");
  const auto rain = ToPhysical(settings.units, 5, 100);
  ASSERT_TRUE(rain);
  EXPECT_DOUBLE_EQ(rain->value, 27.94);
  EXPECT_EQ(rain->unit, "mm");
  const auto bp = ToPhysical(settings.units, 8, 412);  // 4.12 V
  ASSERT_TRUE(bp);
  EXPECT_DOUBLE_EQ(bp->value, 800 + 50 * 4.12);
  EXPECT_EQ(bp->unit, "mbar");
  EXPECT_EQ(ToPhysical(settings.units, 9, 50)->unit, "%");
  // A value that is not a number is said once and leaves that channel raw.
  EXPECT_FALSE(ToPhysical(settings.units, 6, 10));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("p6f=fast"), std::string::npos);
  EXPECT_FALSE(ToPhysical(settings.units, 7, 1));
  EXPECT_FALSE(ToPhysical(settings.units, 10, 3));
  ASSERT_TRUE(Load("abWX118ini2\n[Units]\n"));
  EXPECT_EQ(ToPhysical(settings.units, 0, 21.5)->unit, "°C");
}

TEST(HelpTextsTest, TextsNameTheFilesSectionsAndKeys) {
  const std::string overview = OverviewHelpText();
  EXPECT_NE(overview.find("C:/WX118/WX118ini2.txt"), std::string::npos);
  EXPECT_NE(overview.find("WX118ini.txt"), std::string::npos);
  EXPECT_NE(overview.find("[ChannelColors]"), std::string::npos);
  EXPECT_NE(overview.find('\r'), std::string::npos);
  EXPECT_EQ(overview.find('\n'), std::string::npos);
  const std::string legacy = LegacyHelpText();
  for (const char* s : {"[wp1spa]", "[p0OffS]", "[WindowPosnsAndSizes]", "[LineOffsetScale]", "no effect"})
    EXPECT_NE(legacy.find(s), std::string::npos) << s;
  const std::string modern = ModernHelpText();
  for (const char* s : {"[swg]", "wgp=", "wgh=", "hsi=", "[enis]", "wgi=", "iri=", "[SecondImage]",
                        "jpg2caption=", "jpg2name=", "jpg2alt=", "jpg2width=", "[ChannelColors]",
                        "[FieldLabels]", "[LineOffsetScale]", "10000", "[Units]", "Temperature=",
                        "p5f=", "p8o=", "[PhonePage]"})
    EXPECT_NE(modern.find(s), std::string::npos) << s;
}

// The manual page is the full reference of the secondary file; Ini2Info and
// the help file summarise it. Every section and every key family it lists
// (p0c ... p12c count as one) must be in both, and every key the readers
// look up must be in the manual page.
TEST_F(SecondaryFixture, ManualPageNamesEveryKeyReadAndIniInfoAndTheHelpFileNameEveryOneOfIt) {
  const auto read = [](const char* path) {
    std::ifstream in(std::string(WX118_SOURCE_DIR) + "/" + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string page = read("docs/man/wx118ini2.5");
  const std::string help = read("help/WX118.hlp");
  const std::string info = OverviewHelpText() + LegacyHelpText() + ModernHelpText();
  ASSERT_FALSE(page.empty());
  ASSERT_FALSE(help.empty());
  const auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const auto family = [](const std::string& key) { return std::regex_replace(key, std::regex(R"(^p\d+)"), R"(p\d+)"); };
  const std::regex sectionLine(R"(^\.SS \[(\w+)\])"), keyLine(R"(^\.B[IR] (.*))"), key(R"(\b([A-Za-z]\w*)=)");
  std::vector<std::string> sections, keys;
  std::set<std::string> documented;  // "section/key family", lower case
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, sectionLine)) sections.push_back(m[1].str());
    if (sections.empty() || !std::regex_search(line, m, keyLine)) continue;
    const std::string rest = m[1];
    for (std::sregex_iterator k(rest.begin(), rest.end(), key), end; k != end; ++k) {
      keys.push_back(family((*k)[1].str()));
      documented.insert(lower(sections.back() + "/" + keys.back()));
    }
  }
  EXPECT_GE(sections.size(), 13u);
  EXPECT_GE(keys.size(), 40u);
  for (const std::string& s : sections) {
    EXPECT_NE(info.find("[" + s + "]"), std::string::npos) << s << " is not in Ini2Info";
    EXPECT_NE(help.find("[" + s + "]"), std::string::npos) << s << " is not in the help file";
  }
  for (const std::string& k : keys) {
    const std::regex word("(^|[^A-Za-z0-9])" + k + "([^A-Za-z0-9]|$)");
    EXPECT_TRUE(std::regex_search(info, word)) << k << " is not in Ini2Info";
    EXPECT_TRUE(std::regex_search(help, word)) << k << " is not in the help file";
  }

  // Every section present, so that every reader looks at all its keys.
  std::string all = "abWX118ini2\n";
  for (const std::string& s : sections) all += "[" + s + "]\n";
  std::vector<std::string> asked;
  ProfileFile::RecordLookups(&asked);
  Load(all);
  std::vector<std::string> problems;
  ReadMqttSettings(ProfileFile::FromText(all), StationConfig{}, paths, problems);
  std::string why;
  ReadOwserverSetting(ProfileFile::FromText(all), why);
  ReadStationSettings(ProfileFile::FromText(all), problems);
  ProfileFile::RecordLookups(nullptr);
  EXPECT_GE(asked.size(), 100u);
  for (const std::string& a : asked) {
    const size_t slash = a.find('/');
    const std::string k = lower(a.substr(0, slash) + "/" + family(a.substr(slash + 1)));
    EXPECT_TRUE(documented.count(k)) << a << " is read but not in wx118ini2(5)";
  }
}

}  // namespace
}  // namespace wx
