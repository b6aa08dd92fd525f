// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "config/primary_config.h"
#include "support/fakes.h"

namespace wx {
namespace {

using RecordingSink = test::RecordingErrors;
using RecordingUi = test::ScriptedUi;
using test::TempDir;

constexpr const char* kFaulty =
    "Unlike most programs from Heronmoor Software, an ini file is needed. It must be called "
    "WX118ini.txt and be in the same folder as WX118.exe. It was present, but fatally faulty. "
    "(Check error messages).";
constexpr const char* kClosing =
    "Program will now terminate... it may take as long as it takes your system to scan the old "
    "data.";

// A sound file: every channel enabled with an accepted family code.
std::vector<std::string> GoodLines() {
  return {
      "abWX118ini", "free text", "", "more", "x", "y", "z", "p 1", "t 5", "j",
      "k e0000000000000010 xx",  // T0
      "l e0000000000000028 xx", "m e0000000000000026 xx", "n e0000000000000010 xx",
      "o e0000000000000010 xx",
      "p e000000000000001D  z",  // rain, page 15
      "q e000000000000001d  Z",  // wind speed: upper-case Z is page 14
      "r e000000000000001D   ",
      "s e0000000000000026   ", "t e0000000000000026   ",
      "u e0000000000000020 cb",  // offset c, table b
      "v d000000000000001D  z", "w e000000000000001D  q",
  };
}

std::string Join(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
  std::string s;
  for (const auto& l : lines) s += l + end;
  return s;
}

struct PrimaryFixture : ::testing::Test {
  TempDir dir;
  RecordingUi ui;
  RecordingSink sink;
  StationConfig station;
  bool Load(const std::string& content) {
    return LoadPrimaryConfig(station, dir.Write("WX118ini.txt", content), ui, sink);
  }
};

TEST_F(PrimaryFixture, SoundFileFillsTheStation) {
  ASSERT_TRUE(Load(Join(GoodLines())));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(sink.errors.empty());
  EXPECT_EQ(ui.terminateCalls, 0);
  EXPECT_EQ(station.adapterPort, 1);
  EXPECT_EQ(station.adapterType, 5);
  EXPECT_EQ(station.counterPage[5], 15);
  EXPECT_EQ(station.counterPage[6], 14);
  EXPECT_EQ(station.counterPage[7], 14);
  EXPECT_EQ(station.counterPage[11], 15);  // read although the channel is disabled
  EXPECT_FALSE(station.sensorEnabled[11]);
  EXPECT_TRUE(station.sensorEnabled[12]);
  EXPECT_EQ(station.windOffset, 2);
  EXPECT_EQ(station.windTable, 1);
  EXPECT_EQ(station.sensorIdText[6], "000000000000001d");  // case kept
}

TEST_F(PrimaryFixture, LineEndsMayBeCrOrLfAndTheLastMayBeMissing) {
  std::string text = Join(GoodLines(), "\r");
  ASSERT_TRUE(Load(text));
  text = Join(GoodLines(), "\n");
  text.pop_back();
  ASSERT_TRUE(Load(text)) << (ui.messages.empty() ? "" : ui.messages[0]);
}

TEST_F(PrimaryFixture, MissingFileShowsTwoMessagesAndTerminates) {
  EXPECT_FALSE(LoadPrimaryConfig(station, dir.path() / "WX118ini.txt", ui, sink));
  ASSERT_EQ(ui.messages.size(), 2u);
  // The folder searched is named after the fixed text.
  EXPECT_EQ(ui.messages[0],
            "Unlike most programs from Heronmoor Software, an ini file is needed. It must be "
            "called WX118ini.txt and be in the same folder as WX118.exe. (Looked for WX118ini.txt in "
            "the folder " + dir.path().string() + ": it does not exist.)");
  EXPECT_EQ(ui.messages[1], kClosing);
  EXPECT_EQ(ui.terminateCalls, 1);
}

TEST_F(PrimaryFixture, IdentificationMustMatchExactly) {
  for (const std::string bad : {"abWX118ini ", "ABWX118INI", "abWX118ini2", ""}) {
    ui.messages.clear();
    auto lines = GoodLines();
    lines[0] = bad;
    EXPECT_FALSE(Load(Join(lines))) << bad;
    ASSERT_EQ(ui.messages.size(), 3u) << bad;
    EXPECT_NE(ui.messages[0].find("must read abWX118ini"), std::string::npos);
    EXPECT_EQ(ui.messages[1], kFaulty);
    EXPECT_EQ(ui.messages[2], kClosing);
  }
}

TEST_F(PrimaryFixture, PortAndTypeUseOnlyCharacterThreeAndWarn) {
  auto lines = GoodLines();
  lines[7] = "p 12";
  lines[8] = "t 1";
  ASSERT_TRUE(Load(Join(lines)));
  EXPECT_EQ(station.adapterPort, 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("'U-less' DS9097"), std::string::npos);
  EXPECT_NE(ui.messages[0].find("advise prgm author? Also: Are you using parasitic"), std::string::npos);

  ui.messages.clear();
  lines[8] = "t 7";
  ASSERT_TRUE(Load(Join(lines)));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].substr(0, 54), "Line \"i\" of your WX118ini.txt file says that you have\r");
}

TEST_F(PrimaryFixture, BadPortAndTypeAreBothReportedAndNeverUsed) {
  auto lines = GoodLines();
  lines[7] = "p";
  lines[8] = "t x";
  station.adapterPort = 4;
  station.adapterType = 4;
  EXPECT_FALSE(Load(Join(lines)));
  ASSERT_EQ(ui.messages.size(), 4u);
  EXPECT_EQ(ui.messages[0].substr(0, 19), "3rd char of line \"h");
  EXPECT_EQ(ui.messages[1].substr(0, 19), "3rd char of line \"i");
  EXPECT_EQ(ui.messages[2], kFaulty);
  EXPECT_EQ(station.adapterPort, 4);
  EXPECT_EQ(station.adapterType, 4);
}

TEST_F(PrimaryFixture, WrongLetterStopsTheLetterStepAndSkipsSyntax) {
  auto lines = GoodLines();
  lines[12] = "M e0000000000000026 xx";  // upper case is fine
  lines[13] = "x e0000000000000010 xx";  // n wrong
  lines[14] = "y e00";                   // would also be wrong and short
  EXPECT_FALSE(Load(Join(lines)));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0],
            "Edit your WX118ini.txt file. The line that should have started with a \"n\" and a "
            "space didn't.");
  EXPECT_EQ(ui.terminateCalls, 1);
}

TEST_F(PrimaryFixture, EnableLetterAndLengthOfOneLineBothReported) {
  auto lines = GoodLines();
  lines[10] = "k x0000000";
  lines[11] = "l q";
  EXPECT_FALSE(Load(Join(lines)));
  ASSERT_EQ(ui.messages.size(), 4u);
  EXPECT_NE(ui.messages[0].find("On line \"k\" it was something else."), std::string::npos);
  EXPECT_EQ(ui.messages[1], "Line \"k\" is too short.");
  EXPECT_EQ(ui.messages[2], kFaulty);
}

TEST_F(PrimaryFixture, TwentyTwoCharactersIsLongEnoughTwentyOneIsNot) {
  auto lines = GoodLines();
  lines[17] = "r e000000000000001D  ";  // 21
  EXPECT_FALSE(Load(Join(lines)));
  EXPECT_EQ(ui.messages[0], "Line \"r\" is too short.");
  ui.messages.clear();
  lines[17] += " ";
  EXPECT_TRUE(Load(Join(lines)));
}

TEST_F(PrimaryFixture, DisabledLineIsSyntaxCheckedButNotFamilyChecked) {
  auto lines = GoodLines();
  lines[21] = "v d00000g000000001D  z";
  EXPECT_FALSE(Load(Join(lines)));
  EXPECT_EQ(ui.messages[0],
            "On line \"v\" there is an invalid character (g) in the chip ID. (Only 0-9, a-f, A-F "
            "allowed.)");
  ui.messages.clear();
  lines[21] = "v d0000000000000099  z";
  EXPECT_TRUE(Load(Join(lines)));
  EXPECT_TRUE(sink.errors.empty());
}

TEST_F(PrimaryFixture, NonPrintableCharacterIsQuotedReadably) {
  auto lines = GoodLines();
  lines[10] = std::string("k e00000\x01") + "0000000010 xx";
  EXPECT_FALSE(Load(Join(lines)));
  EXPECT_NE(ui.messages[0].find("(byte $01)"), std::string::npos);
}

TEST_F(PrimaryFixture, FamilyCodesPerChannel) {
  auto lines = GoodLines();
  lines[10] = "k e0000000000000022 xx";  // temperatures refuse 22
  lines[18] = "s e0000000000000010   ";  // pressure takes 26 only
  lines[20] = "u e000000000000001D cb";  // wind direction takes 20 only
  station.windTable = 0;
  station.windOffset = 9;
  EXPECT_TRUE(Load(Join(lines)));
  ASSERT_EQ(sink.errors.size(), 3u);
  EXPECT_EQ(sink.errors[0],
            "The chip type, as defined by the last byte of the id specified, was not acceptable. "
            "This problem arose from line k of WX118ini.txt. The program will run, but this "
            "parameter will not be monitored.");
  EXPECT_NE(sink.errors[2].find("line u of"), std::string::npos);
  EXPECT_FALSE(station.sensorEnabled[0]);
  EXPECT_FALSE(station.sensorEnabled[8]);
  EXPECT_FALSE(station.sensorEnabled[10]);
  EXPECT_EQ(station.windTable, 0);  // letters not read
  EXPECT_EQ(station.windOffset, 9);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(PrimaryFixture, IdPastedFamilyFirstGetsItsCorrection) {
  auto lines = GoodLines();
  lines[10] = "k e10AB1200000000A0 xx";  // a DS18S20 as digitemp prints it
  lines[20] = "u e2067450000000093 ba";  // the same order, but its CRC does not hold
  EXPECT_TRUE(Load(Join(lines)));
  ASSERT_EQ(sink.errors.size(), 2u);
  EXPECT_EQ(sink.errors[0],
            "The chip type, as defined by the last byte of the id specified, was not acceptable. "
            "This problem arose from line k of WX118ini.txt. The program will run, but this "
            "parameter will not be monitored. The ID seems written family byte first, as digitemp "
            "and owdir print it; this file wants the CRC byte first: \"k eA00000000012AB10 xx\"");
  EXPECT_EQ(sink.errors[1].find("CRC byte first"), std::string::npos);
  EXPECT_FALSE(station.sensorEnabled[0]);
}

TEST_F(PrimaryFixture, WindLettersAreCheckedSeparately) {
  auto lines = GoodLines();
  lines[20] = "u e0000000000000020 Dh";  // offset D valid, table h invalid
  EXPECT_TRUE(Load(Join(lines)));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("must be a,b,c,d,e,f or g"), std::string::npos);
  EXPECT_EQ(station.windTable, 0);
  EXPECT_EQ(station.windOffset, 3);
}

TEST_F(PrimaryFixture, FieldStepRunsAfterAFatalSyntaxFault) {
  auto lines = GoodLines();
  lines[10] = "k ?0000000000000010 xx";
  lines[20] = "u e0000000000000020 zz";
  EXPECT_FALSE(Load(Join(lines)));
  ASSERT_EQ(ui.messages.size(), 5u);
  EXPECT_NE(ui.messages[0].find("third character"), std::string::npos);
  EXPECT_NE(ui.messages[1].find("Third letter of line \"u\""), std::string::npos);
  EXPECT_NE(ui.messages[2].find("Second letter of line \"u\""), std::string::npos);
  EXPECT_EQ(ui.messages[3], kFaulty);
  EXPECT_EQ(ui.messages[4], kClosing);
}

TEST_F(PrimaryFixture, ShortFileNamesTheFirstMissingLine) {
  auto lines = GoodLines();
  lines.resize(16);  // a..p
  EXPECT_FALSE(Load(Join(lines)));
  ASSERT_GE(ui.messages.size(), 3u);
  EXPECT_NE(ui.messages[0].find("line \"q\""), std::string::npos);
  EXPECT_EQ(ui.messages.back(), kClosing);
  EXPECT_FALSE(station.sensorEnabled[6]);
  EXPECT_EQ(ui.terminateCalls, 1);
  ui.messages.clear();
  EXPECT_FALSE(Load(""));
  EXPECT_NE(ui.messages[0].find("line \"a\""), std::string::npos);
}

TEST(ConvertSensorIdsTest, LastPairIsByteZero) {
  StationConfig s;
  s.sensorIdText[0] = "0123456789ABCD1D";
  s.sensorIdText[1] = "0123456789abcd1d";
  s.sensorIdText[2] = "12";  // short: missing pairs give 0
  ConvertSensorIds(s);
  const std::array<uint8_t, 8> want{0x1D, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
  EXPECT_EQ(s.sensorRom[0], want);
  EXPECT_EQ(s.sensorRom[1], want);
  EXPECT_EQ(s.sensorRom[2][7], 0x12);
  EXPECT_EQ(s.sensorRom[2][0], 0);
}

}  // namespace
}  // namespace wx
