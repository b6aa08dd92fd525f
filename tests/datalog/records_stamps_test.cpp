// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "datalog/records.h"
#include "datalog/stamps.h"

namespace wx {
namespace {

DateTime At(int y, int mo, int d, int h, int mi, int s = 0) { return *EncodeDateTime(y, mo, d, h, mi, s); }

TEST(Stamp, BoundariesOfYearMonthAndHour) {
  EXPECT_EQ(Stamp(At(2000, 1, 1, 0, 0)), "00a01a00");
  EXPECT_EQ(Stamp(At(2026, 12, 31, 23, 59)), "26l31x59");
  EXPECT_EQ(Stamp(At(2026, 12, 7, 14, 5, 59)), "26l07o05");  // seconds are dropped
  EXPECT_EQ(Stamp(At(2109, 3, 9, 9, 9)), "09c09j09");
}

TEST(Stamp, DecodesTenCharacters) {
  const auto f = PGDTtoVars("26l07o05ab");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->year, 26);
  EXPECT_EQ(f->month, 12);
  EXPECT_EQ(f->day, 7);
  EXPECT_EQ(f->hour, 14);
  EXPECT_EQ(f->minute, 5);
  EXPECT_FALSE(PGDTtoVars("26l07o05"));
  EXPECT_FALSE(PGDTtoVars("26l07o05abc"));
  EXPECT_EQ(StampToDateTime("26l07o05ab"), At(2026, 12, 7, 14, 5));
  EXPECT_EQ(StampToDateTime("00a01a00+0"), At(2000, 1, 1, 0, 0));
  EXPECT_EQ(StampToDateTime("26l31x59+0"), At(2026, 12, 31, 23, 59));
}

TEST(Stamp, InvalidStampsGiveNoDate) {
  for (const char* bad : {"26m07o05ab", "26`07o05ab", "26l07y05ab", "26l07A05ab", "26b30a0000",
                          "25b29a0000", "26d31a0000", "26a00a0000", "26a01a6000", "2xl07o05ab",
                          "26l0 o05ab", "26l07o-5ab", "26l07o05"})
    EXPECT_FALSE(StampToDateTime(bad)) << bad;
  EXPECT_TRUE(StampToDateTime("24b29a0000"));  // leap day
}

TEST(Stamp, CenturyPutsTheStampInThePastOrALittleAhead) {
  EXPECT_EQ(StampFullYear(99, 2026), 1999);
  EXPECT_EQ(StampFullYear(70, 2026), 1970);  // a board started at the epoch
  EXPECT_EQ(StampFullYear(26, 2026), 2026);
  EXPECT_EQ(StampFullYear(36, 2026), 2036);
  EXPECT_EQ(StampFullYear(37, 2026), 1937);
  EXPECT_EQ(StampFullYear(5, 2097), 2105);
  EXPECT_EQ(StampToDateTime("99g01o05ab", 2026), At(1999, 7, 1, 14, 5));
  EXPECT_EQ(ReadRecordLine("t099g01o05+2150", 2026).time, At(1999, 7, 1, 14, 5));
  EXPECT_EQ(ReadRecordLine("t099g01o05+2150", 2095).time, At(2099, 7, 1, 14, 5));
}

TEST(Stamp, RoundTripsEveryHourAndMonth) {
  for (int mo = 1; mo <= 12; ++mo)
    for (int h = 0; h < 24; ++h) {
      const DateTime t = At(2026, mo, 28, h, 37);
      EXPECT_EQ(StampToDateTime(Stamp(t) + "xx"), t);
    }
}

TEST(DateText, MonthNamesAndSeconds) {
  EXPECT_EQ(DateTimeText(At(2026, 7, 1, 9, 3, 4), false), "01-Jly-2026, 09:03");
  EXPECT_EQ(DateTimeText(At(2026, 7, 1, 9, 3, 4), true), "01-Jly-2026, 09:03:04");
  EXPECT_EQ(DateTimeText(At(2026, 12, 7, 14, 5, 9), true), "07-Dec-2026, 14:05:09");
  EXPECT_EQ(DateTimeText(At(2027, 1, 31, 0, 0), false), "31-Jan-2027, 00:00");
}

TEST(Records, TemperatureFields) {
  EXPECT_EQ(TemperatureField(21.5f), "+2150");
  EXPECT_EQ(TemperatureField(-3.25f), "-0325");
  EXPECT_EQ(TemperatureField(0.0f), "+0000");
  EXPECT_EQ(TemperatureField(-0.5f), "-0050");
  EXPECT_EQ(TemperatureField(99.99f), "+9999");
  EXPECT_EQ(TemperatureField(-5.25f), "-0525");
  EXPECT_EQ(TemperatureField(5.25f), "+0525");
  EXPECT_EQ(TemperatureField(-99.99f), "-9999");
  EXPECT_EQ(TemperatureField(-0.001f), "+0000");
  // Exact halves (a DS18B20 counts sixteenths) round away from zero.
  EXPECT_EQ(TemperatureField(10.125f), "+1013");
  EXPECT_EQ(TemperatureField(-10.125f), "-1013");
  EXPECT_EQ(TemperatureField(0.625f), "+0063");
  EXPECT_EQ(TemperatureField(-0.375f), "-0038");
  // Out of the field's range: saturate instead of dropping a digit (+1026).
  EXPECT_EQ(TemperatureField(100.26f), "+9999");
  EXPECT_EQ(TemperatureField(-120.0f), "-9999");
  const std::string r = TemperatureRecord(3, "26l07o05", 21.37f);
  EXPECT_EQ(r, "t326l07o05+2137");
  EXPECT_EQ(r.size(), 15u);
}

TEST(Records, CountersAnalogAndWind) {
  EXPECT_EQ(CounterRecord("ws", "26l07o05", 1234567890), "ws26l07o05234567890");
  EXPECT_EQ(CounterRecord("rf", "26l07o05", 0), "rf26l07o05000000000");
  EXPECT_EQ(CounterRecord("b1", "26l07o05", 4711), "b126l07o05000004711");
  EXPECT_EQ(CounterRecord("lt", "26l07o05", -1).size(), 19u);
  EXPECT_EQ(AnalogRecord("bp", "26l07o05", 25), "bp26l07o050025");
  EXPECT_EQ(AnalogRecord("hm", "26l07o05", 250), "hm26l07o050250");
  EXPECT_EQ(AnalogRecord("hm", "26l07o05", 998), "hm26l07o050998");
  std::array<uint16_t, 17> bins{};
  EXPECT_EQ(WindRecord("26l07o05", bins), "wd26l07o05" + std::string(34, '0'));
  bins[0] = 0xB5;
  bins[16] = 10;
  const std::string w = WindRecord("26l07o05", bins);
  EXPECT_EQ(w.size(), 44u);
  EXPECT_EQ(w.substr(10, 2), "B5");
  EXPECT_EQ(w.substr(42), "0A");
}

TEST(Records, FreeTextRecords) {
  EXPECT_EQ(StartRecord("26l07o05"), "ss26l07o05- - System started, WX118 version: 1 Sept 10");
  EXPECT_EQ(WindOffsetRecord("26l07o05", 9, 1), "wo26l07o05- - Wind Dir Offset:9. Using lookup table:b.");
  EXPECT_EQ(CyclesCommentRecord("26l07o05", 6000), "cm26l07o05(machine generated) Cycles since start:6000");
  EXPECT_EQ(HandCommentRecord("26l07o05", ""), "cm26l07o05 By hand: ");
  EXPECT_EQ(HeaderTitleLine(), "cm Data Log File for WX118");
  EXPECT_EQ(HeaderCreatedLine("26l07o05"), "cm created:(following is date/time, encoded) 26l07o05");
}

}  // namespace
}  // namespace wx
