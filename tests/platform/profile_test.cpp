// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "platform/profile.h"

namespace wx {
namespace {

TEST(ProfileTest, SectionsAndKeysIgnoreCaseAndValuesAreTrimmed) {
  const auto ini = ProfileFile::FromText(
      "key=outside\r\n[FieldLabels]\r\n  p0fL =   T0   \r\nEMPTY=\r\nq1=\"T1 \"\r\n"
      "q2='x'\r\nq3=\"unbalanced\r\nq4=\"\"\"\r\n[other]\r\np0fl=no\r\n");
  EXPECT_EQ(ini.ReadString("fieldlabels", "P0FL", "d"), "T0");
  EXPECT_EQ(ini.ReadString("FieldLabels", "empty", "d"), "");
  EXPECT_EQ(ini.ReadString("FieldLabels", "absent", "d"), "d");
  EXPECT_EQ(ini.ReadString("FieldLabels", "q1", "d"), "T1 ");
  EXPECT_EQ(ini.ReadString("FieldLabels", "q2", "d"), "x");
  EXPECT_EQ(ini.ReadString("FieldLabels", "q3", "d"), "\"unbalanced");
  EXPECT_EQ(ini.ReadString("FieldLabels", "q4", "d"), "\"");  // only one pair removed
  EXPECT_EQ(ini.ReadString("", "key", "d"), "d");              // before any section
  EXPECT_EQ(ini.ReadString("other", "p0fl", "d"), "no");
}

TEST(ProfileTest, ValuesAreCutAt2047Characters) {
  const auto ini = ProfileFile::FromText("[s]\nk=" + std::string(5000, 'x') + "\n");
  EXPECT_EQ(ini.ReadString("s", "k", "").size(), 2047u);
}

TEST(ProfileTest, IntegersInDecimalAndHex) {
  EXPECT_EQ(ParseProfileInt("600"), 600);
  EXPECT_EQ(ParseProfileInt("-12"), -12);
  EXPECT_EQ(ParseProfileInt("0x258"), 600);
  EXPECT_EQ(ParseProfileInt("0X258"), 600);
  EXPECT_EQ(ParseProfileInt("$258"), 600);
  EXPECT_EQ(ParseProfileInt("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseProfileInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseProfileInt("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "ten", "0x", "$", "2147483648", "12a", "1 2", "$1FFFFFFFF", "-"})
    EXPECT_FALSE(ParseProfileInt(bad)) << bad;
  const auto ini = ProfileFile::FromText("[enis]\niri=ten\nhsi=0x258\n");
  EXPECT_EQ(ini.ReadInteger("enis", "iri", 7), 7);
  EXPECT_EQ(ini.ReadInteger("ENIS", "HSI", 7), 600);
  EXPECT_EQ(ini.ReadInteger("enis", "none", 7), 7);
}

TEST(ProfileTest, LineSplitting) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitTextLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitTextLines("a\n\n"), (V{"a", ""}));
  EXPECT_EQ(SplitTextLines("\r\n\r\n"), (V{"", ""}));
  EXPECT_EQ(SplitTextLines(""), V{});
  EXPECT_EQ(SplitTextLines(std::string("x\0y", 3)), V{std::string("x\0y", 3)});
}

TEST(ProfileTest, RandomBytesNeverCrash) {
  std::mt19937 rng(1234);
  for (int i = 0; i < 2000; ++i) {
    std::string text(rng() % 300, '\0');
    for (char& c : text) c = static_cast<char>("[]=\r\n \"'ab$0x"[rng() % 14] ^ (rng() % 8 == 0 ? rng() : 0));
    const auto ini = ProfileFile::FromText(text);
    EXPECT_LE(ini.ReadString("a", "b", "").size(), ProfileFile::kMaxValueLength);
    EXPECT_EQ(ini.ReadString("no such section", "b", "dflt"), "dflt");
    (void)ini.ReadInteger("ab", "a", 0);
  }
}

}  // namespace
}  // namespace wx
