// SPDX-License-Identifier: GPL-2.0-or-later
// The channel readers against the simulated network: what is shown, plotted
// and recorded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/numeric_text.h"
#include "datalog/data_log.h"
#include "datalog/stamps.h"
#include "graph/strip_chart.h"
#include "graph/wind_dial.h"
#include "support/fakes.h"
#include "onewire/readers.h"
#include "onewire/sim_station.h"

namespace wx {
namespace {

using PumpingUi = test::ScriptedUi;
using test::RecordingErrors;
using test::SimStation;
namespace fs = std::filesystem;

fs::path FreshDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::temp_directory_path() / ("wx118_onewire_" + std::string(info->test_suite_name()) + "_" +
                                              info->name() + "_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

class ReadersTest : public ::testing::Test {
 protected:
  ReadersTest() : root(FreshDir()), paths(root) {
    ApplyDefaults(settings);
    settings.station.adapterPort = 1;
    settings.station.adapterType = 5;
    settings.files.dataLogPath = (root / "log.txt").string();
    for (int ch = 0; ch < kChannels; ++ch) settings.plot.channelColour[ch] = 0x0000FF;
    for (int ch : {5, 6, 7, 11, 12}) settings.station.counterPage[ch] = 15;
    chart.CreateBitmap();
    dataLog.LogDataToFile = true;
    dataLog.OpenDataLog();
    ui.messages.clear();  // the new-log notice
  }
  ~ReadersTest() override {
    dataLog.Close();
    fs::remove_all(root);
  }
  void Use(int slot, const SimStation::Rom& rom) {
    settings.station.sensorRom[slot] = rom;
    settings.station.sensorEnabled[slot] = true;
  }
  // Data records written so far (the two header lines left out).
  std::vector<std::string> Records() {
    std::vector<std::string> out;
    std::ifstream in(root / "log.txt");
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("cm", 0) != 0) out.push_back(line);
    }
    return out;
  }
  std::string Stamp() const { return StampNow(clock); }

  FakeClock clock{46363.5, 1000};
  PumpingUi ui{clock};
  RecordingErrors errors;
  Settings settings;
  fs::path root;
  PathMapper paths;
  MainView mainView;
  NumericView numeric;
  ChannelState state;
  int32_t cycle = 100;
  bool showCelsius = true;
  SimStation sim{clock};
  Tmex tmex{sim.Factory()};
  Devices dev{tmex, settings.station, clock, ui, errors, cycle};
  StripChart chart{settings, ui};
  WindDial dial;
  DataLog dataLog{settings.files, paths, clock, ui, errors, mainView};
  Readers rd{settings, state, dev, chart, dial, dataLog, numeric, errors, clock, ui, showCelsius};
};

TEST_F(ReadersTest, TemperaturesOfEachChipKindIncludingNegatives) {
  Use(0, sim.AddDs18S20(-25.5));
  Use(1, sim.AddDs18B20(-10.125));
  Use(2, sim.AddDs2438(-25.4375, 3.0));
  EXPECT_FLOAT_EQ(rd.rsTTureR(0), -25.5f);
  EXPECT_FLOAT_EQ(rd.rsTTureR(1), -10.125f);
  EXPECT_FLOAT_EQ(rd.rsTTureR(2), -25.4375f);
  sim.SetTemperature(settings.station.sensorRom[0], -25.0);  // LSB $CE: no half degree
  EXPECT_FLOAT_EQ(rd.rsTTureR(0), -25.0f);
  // $FF $FF in the temperature bytes of a present chip is a reading (the rest
  // of its scratchpad is not all ones).
  sim.SetTemperature(settings.station.sensorRom[1], -0.0625);
  EXPECT_FLOAT_EQ(rd.rsTTureR(1), -0.0625f);
  sim.SetTemperature(settings.station.sensorRom[0], -0.5);
  EXPECT_FLOAT_EQ(rd.rsTTureR(0), -0.5f);
  EXPECT_EQ(state.TtureReadStatus, 0);
  EXPECT_TRUE(errors.errors.empty());

  rd.ReadTtureChannel(0);
  EXPECT_EQ(numeric.laTture[0].text, FormatTture(-0.5f));
  EXPECT_FLOAT_EQ(state.LatestTture[0], -0.5f);
  EXPECT_EQ(Records(), std::vector<std::string>{"t0" + Stamp() + "-0050"});
  EXPECT_TRUE(state.ChannelLogged[0]);
}

TEST_F(ReadersTest, RogueAndOutOfRangeValuesAreNotReadings) {
  Use(0, sim.AddDs18S20(85.0));
  Use(3, sim.AddDs2438(85.0, 1.0));
  EXPECT_EQ(rd.rsTTureR(0), kTtureRogue85);
  EXPECT_EQ(state.TtureReadStatus, 3);
  EXPECT_TRUE(errors.Has("DMLGet1820Tture reported the rogue value of 85 deg C. Err 4 of 9Aug03, with index 0"));
  EXPECT_EQ(rd.rsTTureR(3), kTtureRogue85);
  EXPECT_EQ(state.TtureReadStatus, 6);
  EXPECT_TRUE(errors.Has("DMLGetVAD reported the rogue value of 85 deg C. Err 1 of 5Sep10, with index 3"));
  rd.ReadTtureChannel(0);
  EXPECT_EQ(numeric.laTture[0].text, "- - -");
  EXPECT_EQ(state.LatestTture[0], 999.0f);
  EXPECT_TRUE(Records().empty());


  Use(4, sim.AddDs2423(0, 0));
  settings.station.sensorRom[4][0] = 0x22;
  EXPECT_EQ(rd.rsTTureR(4), kTtureNoReading);
  EXPECT_TRUE(errors.Has("Major problem!! Seems you're trying to read tture"));
}

TEST_F(ReadersTest, AbsentTemperatureChipIsReportedWithItsIndex) {
  SimStation::Rom rom = sim.AddDs2438(20.0, 1.0);
  Use(2, rom);
  sim.Remove(rom);
  rd.ReadTtureChannel(2);
  EXPECT_EQ(state.TtureReadStatus, 4);
  EXPECT_TRUE(errors.Has("During rsTTureR, with index 2 PGMErr: 40 and Dallas error "));
  EXPECT_EQ(state.ChannelReadCount[2], 1);
  EXPECT_TRUE(Records().empty());
}

TEST_F(ReadersTest, AbsentDs18x20IsAFailedReadNotMinusHalfADegree) {
  Use(0, sim.AddDs18S20(21.0));
  Use(1, sim.AddDs18B20(21.0));
  Use(2, sim.AddDs2438(21.0, 1.0));  // keeps answering the resets
  rd.ReadTtureChannel(0);
  rd.ReadTtureChannel(1);
  ASSERT_EQ(Records().size(), 2u);
  sim.Remove(settings.station.sensorRom[0]);
  sim.Remove(settings.station.sensorRom[1]);
  state.ChannelLogged = {};  // a new column: any reading would be recorded
  const size_t before = errors.errors.size();
  EXPECT_EQ(rd.rsTTureR(0), kTtureNoReading);
  EXPECT_EQ(state.TtureReadStatus, 1);
  rd.ReadTtureChannel(0);
  rd.ReadTtureChannel(1);
  EXPECT_TRUE(errors.Has("During rsTTureR, with index 0 PGMErr: 104 and Dallas error 0"));
  EXPECT_TRUE(errors.Has("During rsTTureR, with index 1 PGMErr: 104 and Dallas error 0"));
  EXPECT_EQ(errors.errors.size(), before + 3);
  EXPECT_EQ(Records().size(), 2u);
  EXPECT_FLOAT_EQ(state.LatestTture[0], 21.0f);
  EXPECT_EQ(numeric.laTture[1].text, FormatTture(21.0f));
}

TEST_F(ReadersTest, TemperatureRecordRules) {
  Use(1, sim.AddDs18B20(20.0));
  showCelsius = false;
  rd.ReadTtureChannel(1);  // count 1, first in column
  const std::string first = Stamp();
  EXPECT_EQ(numeric.laTture[1].text, FormatTture(CelsiusToFahrenheit(20.0f)));
  rd.ReadTtureChannel(1);  // count 2, unchanged: not recorded
  sim.SetTemperature(settings.station.sensorRom[1], 21.5);
  rd.ReadTtureChannel(1);  // count 3, changed but off the period: not recorded
  for (int i = 4; i <= 120; ++i) rd.ReadTtureChannel(1);
  sim.SetTemperature(settings.station.sensorRom[1], 22.0);
  rd.ReadTtureChannel(1);  // count 121, changed: recorded
  state.ChannelLogged[1] = false;
  rd.ReadTtureChannel(1);  // unchanged, but the first in a new column
  EXPECT_EQ(Records(), (std::vector<std::string>{"t1" + first + "+2000", "t1" + Stamp() + "+2200",
                                                  "t1" + Stamp() + "+2200"}));
}

TEST_F(ReadersTest, HotReadingsAreShownButNotLogged) {
  Use(0, sim.AddDs18B20(120.0));
  rd.ReadTtureChannel(0);
  rd.ReadTtureChannel(0);
  EXPECT_EQ(numeric.laTture[0].text, FormatTture(120.0f));
  EXPECT_TRUE(Records().empty());
  ASSERT_EQ(errors.errors.size(), 1u);  // said once
  EXPECT_NE(errors.errors[0].find("120.00"), std::string::npos);
  sim.SetTemperature(settings.station.sensorRom[0], 99.5);
  rd.ReadTtureChannel(0);
  EXPECT_EQ(Records(), std::vector<std::string>{"t0" + Stamp() + "+9950"});
}

TEST_F(ReadersTest, WindSpeedRecordsARiseOfMoreThan100) {
  Use(6, sim.AddDs2423(0, 1000));
  rd.LookAtWindSpeed();  // first reading: recorded
  sim.SetCounter(settings.station.sensorRom[6], 15, 1100);
  rd.LookAtWindSpeed();
  EXPECT_EQ(numeric.laWS.text, "1100");
  sim.SetCounter(settings.station.sensorRom[6], 15, 1101);
  rd.LookAtWindSpeed();
  EXPECT_EQ(Records(), (std::vector<std::string>{"ws" + Stamp() + "000001000", "ws" + Stamp() + "000001101"}));
  for (int i = 4; i <= 101; ++i) rd.LookAtWindSpeed();  // the 101st reading is periodic
  EXPECT_EQ(Records().size(), 3u);
  EXPECT_EQ(state.CountLastLogged[6], 1101);
}

TEST_F(ReadersTest, RainAndLightningRecordEveryPulseAndTheirPeriods) {
  SimStation::Rom rom = sim.AddDs2423(5, 1234567890);
  settings.station.counterPage[5] = 15;
  settings.station.counterPage[7] = 14;
  Use(5, rom);
  Use(7, rom);
  rd.LookAtRain();
  EXPECT_EQ(numeric.laRF.text, "234567890");
  rd.LookAtRain();
  sim.SetCounter(rom, 15, 1234567891);
  rd.LookAtRain();
  rd.LookLightning();
  for (int i = 2; i <= 36; ++i) rd.LookLightning();  // 36th: periodic
  EXPECT_EQ(Records(), (std::vector<std::string>{"rf" + Stamp() + "234567890", "rf" + Stamp() + "234567891",
                                                  "lt" + Stamp() + "000000005", "lt" + Stamp() + "000000005"}));
}

TEST_F(ReadersTest, FailedCounterIsReportedTwiceAndDropped) {
  SimStation::Rom rom = sim.AddDs2423(1, 2);
  Use(5, rom);
  rd.LookAtRain();
  ASSERT_EQ(numeric.laRF.text, "2");
  sim.Remove(rom);
  for (int i = 0; i < 100; ++i) rd.LookAtRain();  // the 101st reading falls on the period
  EXPECT_EQ(numeric.laRF.text, "2");
  EXPECT_TRUE(errors.Has("Problem with DMLGetCount 40"));
  EXPECT_TRUE(errors.Has("During LookAtRain, PGMErr: 40"));
  EXPECT_EQ(Records(), std::vector<std::string>{"rf" + Stamp() + "000000002"});
  EXPECT_EQ(state.CountLatest[5], 2);
}

TEST_F(ReadersTest, OnOffShowsFromTheSecondReadingAndRecordsChanges) {
  SimStation::Rom rom = sim.AddDs2423(10, 20);
  settings.station.counterPage[11] = 14;
  Use(11, rom);
  rd.LookOnOff(1);
  EXPECT_EQ(numeric.laOnOff1.text, "999999");
  EXPECT_TRUE(state.OnOffHasPrevious[1]);
  rd.LookOnOff(1);
  EXPECT_EQ(numeric.laOnOff1.text, "10");
  EXPECT_FALSE(state.OnOffChanged[1]);
  sim.SetCounter(rom, 14, 11);
  rd.LookOnOff(1);
  EXPECT_TRUE(state.OnOffChanged[1]);
  for (int i = 4; i <= 36; ++i) rd.LookOnOff(1);  // 36th: periodic
  EXPECT_FALSE(state.OnOffChanged[1]);
  EXPECT_EQ(Records(), (std::vector<std::string>{"b1" + Stamp() + "000000010", "b1" + Stamp() + "000000011",
                                                  "b1" + Stamp() + "000000011"}));
  sim.Remove(rom);
  rd.LookOnOff(1);
  EXPECT_TRUE(errors.Has("During LookOnOff, channel 1, PGMErr: 40"));
  EXPECT_EQ(numeric.laOnOff1.text, "11");
}

TEST_F(ReadersTest, PressureRangeChecksAndPeriod) {
  SimStation::Rom rom = sim.AddDs2438(20.0, 9.99);
  Use(8, rom);
  rd.LookAtBaro();
  EXPECT_EQ(numeric.laBP.text, "998");
  sim.SetVoltage(rom, 4.56);
  rd.LookAtBaro();
  EXPECT_EQ(state.BaroHundredths, 455);
  sim.SetVoltage(rom, 10.00);
  rd.LookAtBaro();
  EXPECT_TRUE(errors.Has("rsBaroLatest was >9.99 at line 1 of 10Aug03"));
  EXPECT_EQ(state.ReadingFault, 1);
  EXPECT_FLOAT_EQ(state.rsBaroLatest, 9.99f);
  EXPECT_EQ(numeric.laBP.text, "455");
  EXPECT_EQ(state.ChannelReadCount[8], 2);  // faults do not count
  sim.SetVoltage(rom, 0.0);
  for (int i = 3; i <= 51; ++i) rd.LookAtBaro();  // 51st good reading: periodic
  EXPECT_EQ(Records(), (std::vector<std::string>{"bp" + Stamp() + "0998", "bp" + Stamp() + "0000"}));
}

TEST_F(ReadersTest, HumidityPeriodAndFailedAccess) {
  SimStation::Rom rom = sim.AddDs2438(20.0, 2.5);
  Use(9, rom);
  for (int i = 1; i <= 31; ++i) rd.LookAtHum();
  EXPECT_EQ(Records(), (std::vector<std::string>{"hm" + Stamp() + "0250", "hm" + Stamp() + "0250"}));
  sim.Remove(rom);
  rd.LookAtHum();
  EXPECT_TRUE(errors.Has("During LookAtHum, PGMErr: 40"));
  EXPECT_TRUE(errors.Has("rsHumLatest was >9.99 at line 1 of 10Aug03"));
  EXPECT_EQ(state.HumHundredths, 998);
  EXPECT_EQ(state.ChannelReadCount[9], 31);
}

TEST_F(ReadersTest, WindDirectionCodeNameDialAndAverage) {
  Use(10, sim.AddDs2450({0, 0, 0, 0x1700}));  // 8-bit results: the high byte only
  dev.InitDevices();
  ASSERT_TRUE(dev.session().AdcReady);
  rd.LookAtWindDir();
  EXPECT_EQ(state.WindCode, "0002");
  EXPECT_EQ(state.WindIndex, 6);
  EXPECT_EQ(numeric.laWDi.text, "NNW");
  EXPECT_EQ(numeric.laWDb.text, "6");
  EXPECT_EQ(numeric.laADC[3].text, "5888");
  EXPECT_EQ(state.WindDialDir, 15);
  for (int i = 2; i <= 180; ++i) rd.LookAtWindDir();
  rd.PublishWindAverage(kNewestColumn);  // 180 readings: not yet
  EXPECT_TRUE(Records().empty());
  sim.SetInputs(settings.station.sensorRom[10], {0x0200, 0x1600, 0, 0});  // "1200": in no row of table a
  rd.LookAtWindDir();
  EXPECT_EQ(numeric.laWDi.text, "???");
  EXPECT_EQ(state.WindDialDir, 16);
  rd.PublishWindAverage(kNewestColumn);
  EXPECT_EQ(Records(), std::vector<std::string>{"wd" + Stamp() + std::string(12, '0') + "B4" + std::string(18, '0') + "01"});
  EXPECT_EQ(numeric.laWDa.text, "NNW");
  EXPECT_EQ(state.WindIndex, 6);
  EXPECT_EQ(state.WindReadCount, 0);
  EXPECT_EQ(state.WindHistogram[6], 0);
  EXPECT_EQ(chart.Bitmap().Pixel(kNewestColumn, StripChart::WindDirRow(6)), ToRgb32(kWindDirColour));
  EXPECT_EQ(chart.Bitmap().Pixel(kNewestColumn, StripChart::WindDirRow(6) + 1), ToRgb32(kWindDirColour));
}

TEST_F(ReadersTest, WindDirectionAfterAFailedSetUpSwitchesTheChannelOffOnce) {
  Use(10, sim.AddDs2450({0, 0, 0, 0}));
  sim.SetAdapterAbsent(true);
  dev.InitDevices();
  rd.LookAtWindDir();
  EXPECT_FALSE(settings.station.sensorEnabled[10]);
  EXPECT_EQ(ui.messages.size(), 1u);  // cycle 100: no device hint, only the switch-off box
  EXPECT_TRUE(errors.Has("During LookAtWindDir,PGMErr: 10 and Dallas error 0"));
  EXPECT_EQ(numeric.laADC[0].text, "---");
  EXPECT_EQ(numeric.laWDi.text, "XXX");
  EXPECT_EQ(state.WindReadCount, 0);
}

}  // namespace
}  // namespace wx
