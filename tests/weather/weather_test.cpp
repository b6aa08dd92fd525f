// SPDX-License-Identifier: GPL-2.0-or-later
#include "weather/weather.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "datalog/records.h"
#include "datalog/stamps.h"
#include "platform/profile.h"
#include "support/fakes.h"
#include "weather/formulas.h"
#include "weather/station.h"

namespace wx {
namespace {

std::string Two(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

TEST(WeatherFormulas, ReferenceValues) {
  EXPECT_EQ(Two(DewPointC(20, 50)), "9.25");
  EXPECT_EQ(Two(DewPointC(-10, 80)), "-12.78");
  EXPECT_EQ(Two(HeatIndexC(32, 60)), "37.07");
  EXPECT_EQ(Two(WindChillC(-5, 20)), "-11.53");
  EXPECT_EQ(WindChillC(12, 30), 12.0);
  EXPECT_EQ(Two(Humidex(30, 80)), "43.66");
  EXPECT_EQ(Two(ApparentTemperatureC(25, 60, 3)), "25.15");
  EXPECT_EQ(Two(SeaLevelPressureHpa(990, 150, 10)), "1008.09");
  EXPECT_EQ(Two(AltimeterHpa(990, 150)), "1007.90");
  EXPECT_NEAR(StationPressureHpa(SeaLevelPressureHpa(990, 150, 10), 150, 10), 990, 1e-9);
  // Half the supply at 25 °C: (0.5 - 0.16) / 0.0062 / 1.0006.
  EXPECT_EQ(Two(SensorHumidityPercent(2.5, 5.0, 25)), "54.81");
}

TEST(WeatherStation, SettingsAndCalibrations) {
  std::vector<std::string> problems;
  auto ini = ProfileFile::FromText(
      "[Station]\nName=Hill Farm\nAltitude=150\nLatitude=95\nOutdoor=t3\nWindFactor=-1\nPressure=sealevel\n"
      "[Units]\np5f=0.01\np5u=in\np8f=20\np8o=900\np8u=kPa\n");
  const StationSettings s = ReadStationSettings(ini, problems);
  EXPECT_TRUE(s.present);
  EXPECT_EQ(s.name, "Hill Farm");
  EXPECT_EQ(s.altitudeM, 150);
  EXPECT_FALSE(s.latitude);
  EXPECT_EQ(s.outdoor, 3);
  EXPECT_EQ(s.windFactor, 1.974);
  EXPECT_TRUE(s.calibrationGivesSeaLevel);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("[Station] Latitude=95"), std::string::npos);
  const UnitsConfig units = ReadUnits(ini, problems);
  EXPECT_DOUBLE_EQ(RainMmPerCount(units), 0.254);
  EXPECT_DOUBLE_EQ(*CalibratedPressureHpa(units, 550), (900 + 20 * 5.5) * 10);
  EXPECT_EQ(RainMmPerCount(UnitsConfig{}), kDefaultRainMmPerCount);
  EXPECT_FALSE(CalibratedPressureHpa(UnitsConfig{}, 550));
}

class WeatherLive : public ::testing::Test {
 protected:
  static constexpr double kS = 1.0 / 86400;
  WeatherLive() { Make(); }
  void Make() { w = std::make_unique<Weather>(settings, station, errors); }
  void Read(int channel, double raw, double atSeconds) {
    Reading r;
    r.channel = channel;
    r.raw = raw;
    r.when = t0 + atSeconds * kS;
    w->OnReading(r);
  }
  WeatherValues At(double seconds) const { return w->Snapshot(t0 + seconds * kS); }

  Settings settings;
  StationSettings station;
  test::RecordingErrors errors;
  std::unique_ptr<Weather> w;
  DateTime t0 = *EncodeDateTime(2026, 12, 7, 12, 0);
};

TEST_F(WeatherLive, WindSpeedGustAveragesAndCounterFaults) {
  // 4 counts every 8 s is 0.5 counts per second: 0.987 km/h; one read of
  // 40 counts a gust of 9.87 km/h.
  int32_t count = 999999900;  // wraps at 10^9 on the way
  for (int i = 0; i <= 75; ++i) Read(6, (count += (i == 40 ? 40 : 4)) % 1000000000, i * 8.0);
  WeatherValues v = At(600);
  EXPECT_NEAR(*v.windSpeedKmh, 0.987, 1e-9);
  EXPECT_NEAR(*v.gustKmh, 9.87, 1e-9);
  EXPECT_NEAR(*v.windAverage2Kmh, 0.987, 1e-9);
  EXPECT_NEAR(*v.windAverage10Kmh, 1.974 * (74 * 4 + 40) / 600.0, 1e-9);
  EXPECT_NEAR(v.peakGustToday->value, 9.87, 1e-9);
  EXPECT_EQ(v.peakGustToday->when, t0 + 320 * kS);
  // A reset to a small count is no negative speed, and neither is a second
  // read at the same time or one after a long gap any speed at all.
  Read(6, 3, 608);
  EXPECT_EQ(*At(608).windSpeedKmh, 0.0);
  Read(6, 7, 608);
  EXPECT_EQ(*At(608).windSpeedKmh, 0.0);
  Read(6, 1000, 1608);
  v = At(1608);
  EXPECT_FALSE(v.windSpeedKmh);
  EXPECT_FALSE(v.gustKmh);
  EXPECT_FALSE(v.windAverage2Kmh);
  EXPECT_NEAR(v.peakGustToday->value, 9.87, 1e-9);
}

TEST_F(WeatherLive, DirectionIsTheSpeedWeightedMeanAndNoneWhenCalm) {
  settings.station.windOffset = 0;
  Make();
  Read(6, 0, 0);
  Read(10, 4, 1);  // east, calm
  EXPECT_FALSE(At(1).windDirectionDeg);
  Read(6, 8, 8);    // 1.974 km/h
  Read(10, 0, 9);   // north
  Read(6, 32, 16);  // 5.922 km/h
  Read(10, 4, 17);  // east, three times the weight
  EXPECT_NEAR(*At(17).windDirectionDeg, std::atan2(3, 1) * 180 / 3.141592653589793, 1e-9);
  Read(10, 16, 18);  // no valid code: left out
  EXPECT_EQ(At(18).windDirectionDeg, At(17).windDirectionDeg);
  EXPECT_EQ(*At(17).peakGustDirectionDeg, 0.0);
}

TEST_F(WeatherLive, RainTodayAcrossSummerTimeAndMidnight) {
  t0 = *EncodeDateTime(2026, 10, 25, 2, 50);  // summer time ends at 03:00, back to 02:00
  Read(5, 100, 0);
  Read(5, 104, 540);    // 02:59: 4 tips, 1.016 mm
  Read(5, 105, -3000);  // 02:00 again: the clock went back
  WeatherValues v = At(-3000);
  EXPECT_NEAR(*v.rainTodayMm, 5 * 0.254, 1e-9);
  EXPECT_NEAR(*v.rainLastHourMm, 5 * 0.254, 1e-9);
  EXPECT_NEAR(*v.rainRateMmPerHour, 4 * 5 * 0.254, 1e-9);  // all five within the last 15 real minutes
  const double midnight = (*EncodeDateTime(2026, 10, 26) - t0) * 86400;
  Read(5, 106, midnight + 60);
  v = At(midnight + 60);
  EXPECT_NEAR(*v.rainTodayMm, 0.254, 1e-9);
  EXPECT_NEAR(*v.rain24hMm, 6 * 0.254, 1e-9);
  EXPECT_EQ(*At(midnight + 25 * 3600).rainTodayMm, 0.0);
}

TEST_F(WeatherLive, HumidityPressureAndTheOutdoorAir) {
  settings.units.present = true;
  settings.units.mapped[8] = true;
  settings.units.factor[8] = 10;
  settings.units.offset[8] = 940;
  station.altitudeM = 150;
  Make();
  Read(0, 20, 0);
  Read(9, 400, 1);  // 4.00 V on 5.00 V at 20 °C: 102.0 %, shown as 100
  Read(9, 410, 2);
  EXPECT_EQ(*At(2).humidityPercent, 100.0);
  EXPECT_EQ(errors.errors.size(), 1u);
  Read(9, 250, 3);
  Read(8, 500, 4);  // 990 hPa at the station
  WeatherValues v = At(4);
  EXPECT_NEAR(*v.humidityPercent, (0.5 - 0.16) / 0.0062 / (1.0546 - 0.00216 * 20), 1e-9);
  EXPECT_NEAR(*v.dewPointC, DewPointC(20, *v.humidityPercent), 1e-12);
  EXPECT_EQ(v.humidityDay.high->value, 100.0);
  EXPECT_NEAR(*v.seaLevelPressureHpa, SeaLevelPressureHpa(990, 150, 20), 1e-9);
  EXPECT_NEAR(*v.altimeterHpa, AltimeterHpa(990, 150), 1e-9);
  EXPECT_FALSE(v.pressureTrend3hHpa);
  Read(8, 480, 3 * 3600 + 4);  // 2 hPa lower 3 hours on
  EXPECT_NEAR(*At(3 * 3600 + 4).pressureTrend3hHpa, -2 * std::exp(9.81 * 150 / 287.05 / 293.15), 1e-9);
  EXPECT_FALSE(v.windChillC);
  EXPECT_EQ(v.temperatureDay[0].low->value, 20.0);
}

TEST_F(WeatherLive, RestartCarriesTheDayOnFromTheLog) {
  test::TempDir dir;
  const auto log = dir.path() / "log.txt";
  const DateTime night = *EncodeDateTime(2026, 12, 6, 23, 0);
  {
    std::ofstream f(log, std::ios::binary);
    f << HeaderTitleLine() << "\r\n"
      << CounterRecord("rf", Stamp(night), 50) << "\r\n"
      << CounterRecord("rf", Stamp(night + 3600 * kS), 52) << "\r\n"  // 00:00: 2 tips today
      << TemperatureRecord(1, Stamp(t0 - 3600 * kS), -2.5f) << "\r\n"
      << "cm junk\r\n"
      << CounterRecord("rf", Stamp(t0 - 60 * kS), 60) << "\r\n"
      << CounterRecord("ws", Stamp(t0 - 120 * kS), 1000) << "\r\n"
      << CounterRecord("ws", Stamp(t0 - 60 * kS), 1300) << "\r\n"
      << "t1" << Stamp(t0 + 3600 * kS) << "+9000\r\n";
  }
  EXPECT_EQ(w->SeedFromLog(log, t0), 6);
  Read(5, 61, 1);
  const WeatherValues v = At(1);
  EXPECT_NEAR(*v.rainTodayMm, 11 * 0.254, 1e-9);
  EXPECT_NEAR(*v.rain24hMm, 11 * 0.254, 1e-9);
  EXPECT_EQ(v.temperatureDay[1].high->value, -2.5);  // the record ahead of the clock is not taken
  EXPECT_NEAR(v.peakGustToday->value, 1.974 * 300 / 60, 1e-9);
  EXPECT_EQ(v.peakGustToday->when, t0 - 60 * kS);
}

}  // namespace
}  // namespace wx
