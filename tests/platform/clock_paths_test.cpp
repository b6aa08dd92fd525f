// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/paths.h"

namespace wx {
namespace {

TEST(DateTimeTest, EpochAndKnownDates) {
  EXPECT_DOUBLE_EQ(*EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(*EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(*EncodeDateTime(2000, 1, 1), 36526.0);
  EXPECT_NEAR(*EncodeDateTime(2026, 12, 7, 14, 5), 46363.0 + (14 * 60 + 5) / 1440.0, 1e-9);
}

TEST(DateTimeTest, RejectsImpossibleFields) {
  EXPECT_FALSE(EncodeDateTime(2026, 13, 1));
  EXPECT_FALSE(EncodeDateTime(2026, 4, 31));
  EXPECT_FALSE(EncodeDateTime(2025, 2, 29));
  EXPECT_TRUE(EncodeDateTime(2024, 2, 29));
  EXPECT_FALSE(EncodeDateTime(2026, 1, 1, 24, 0));
  EXPECT_FALSE(EncodeDateTime(2026, 1, 1, 0, 60));
}

TEST(DateTimeTest, DecodeRoundTripsWithoutLosingAMinute) {
  for (int m = 0; m < 24 * 60; m += 7) {
    const DateTime t = *EncodeDateTime(2026, 7, 1, m / 60, m % 60);
    const DateTimeParts p = DecodeDateTime(t);
    EXPECT_EQ(p.hour * 60 + p.minute, m);
    EXPECT_EQ(p.second, 0);
    EXPECT_EQ(p.day, 1);
  }
  EXPECT_DOUBLE_EQ(DatePart(*EncodeDateTime(2026, 7, 1, 23, 59, 59)), *EncodeDateTime(2026, 7, 1));
}

TEST(FakeClockTest, AdvanceMovesBothAndTicksWrap) {
  FakeClock c(100.0, 0xFFFFFF00u);
  c.AdvanceMs(0x200);
  EXPECT_EQ(c.GetTickCount(), 0x100u);
  EXPECT_NEAR(c.Now(), 100.0 + 512 / 86400000.0, 1e-12);
}

TEST(PathMapperTest, DriveLettersMapUnderRoot) {
  PathMapper m("/data");
  EXPECT_EQ(m.Map("C:/WX18DtLg.txt"), std::filesystem::path("/data/c/WX18DtLg.txt"));
  EXPECT_EQ(m.Map("C:\\WX118\\WX118ini2.txt"), std::filesystem::path("/data/c/WX118/WX118ini2.txt"));
  EXPECT_EQ(m.Map("d:\\web\\WX118WG.htm"), std::filesystem::path("/data/d/web/WX118WG.htm"));
  EXPECT_EQ(m.Map("/var/www/html/WX118WG.htm"), std::filesystem::path("/var/www/html/WX118WG.htm"));
  EXPECT_EQ(m.Map("WX118ini.txt"), std::filesystem::path("WX118ini.txt"));
  // In messages a mixed path is the real one, in this machine's separators.
  EXPECT_EQ(m.Shown("C:/WX18DtLg.txt"), "C:/WX18DtLg.txt (that is /data/c/WX18DtLg.txt)");
  EXPECT_EQ(m.Shown("C:/WX18DtLg.txt", false), "C:/WX18DtLg.txt");
  EXPECT_EQ(m.Shown("/var/www\\WX118WG.htm"), "/var/www/WX118WG.htm");
  EXPECT_EQ(m.Shown("D:/web\\WX118WG.htm", false), "/data/d/web/WX118WG.htm");
}

}  // namespace
}  // namespace wx
