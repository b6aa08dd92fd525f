// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "helpers.h"
#include "tmex/sim/station_file.h"

namespace wx {
namespace {

struct StationTest : ::testing::Test {
  FakeClock clock;
  std::string error;
  std::unique_ptr<SimNetwork> Parse(const std::string& text) { return ParseStation(text, clock, error); }
};

TEST_F(StationTest, BuildsAdapterChipsProgramsAndFaults) {
  const RomCode r = MakeRom(0x28, 0x123456);
  const std::string text =
      "# station\n"
      "adapter 5 2\n"
      "chip T0 ds18b20 " + RomToText(r) + "   # with CRC\n"
      "chip T1 DS18S20 " + RomToText(MakeRom(0x10, 9)).substr(2) + "\n"
      "chip RAIN DS2423 auto\n"
      "chip WD DS2450 auto\n"
      "chip BARO DS2438 auto\n"
      "value T0 temp sine 12 6 24h\n"
      "value T1 temp 3.5\n"
      "value RAIN a ramp 0 30\n"
      "value RAIN b steps 0=1 1h=5\n"
      "value WD vane b walk 4 0.5 11 30s\n"
      "value WD a const 1.25\n"
      "value BARO vad walk 3.2 0.01 7\n"
      "fault T1 stop-after 3\n"
      "fault RAIN bit-errors 0.5 9\n"
      "fault BARO stuck-conversion\n"
      "fault WD absent\n";
  auto net = Parse(text);
  ASSERT_TRUE(net) << error;
  EXPECT_EQ(net->adapterType(), 5);
  EXPECT_EQ(net->adapterPort(), 2);
  ASSERT_EQ(net->chips().size(), 5u);
  EXPECT_EQ(net->FindByName("T0")->rom(), r);
  EXPECT_EQ(net->FindByName("T1")->rom(), MakeRom(0x10, 9));  // CRC computed
  EXPECT_EQ(net->FindByName("RAIN")->family(), 0x1D);
  EXPECT_TRUE(RomCrcValid(net->FindByName("RAIN")->rom()));
  EXPECT_FALSE(net->FindByName("WD")->Answering());
  // stop-after: three accesses of its own answered, then silence; traffic
  // to the other chips on the line does not count.
  auto* t1 = net->FindByName("T1");
  test::Master m(*net);
  m.Open();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(m.Select(net->FindByName("T0")->rom()), 1);
  EXPECT_TRUE(t1->Answering());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m.Select(t1->rom()), 1);
  EXPECT_EQ(t1->accesses(), 3);
  EXPECT_EQ(m.Select(t1->rom(), true), 0);  // the next reset finds it silent
  EXPECT_FALSE(t1->Answering());
}

TEST_F(StationTest, EveryBadLineIsReportedWithItsNumber) {
  const std::string text =
      "adapter 5 1\n"
      "chip T0 ds1820 auto\n"                      // 2 kind
      "chip T1 ds18b20 12345\n"                    // 3 rom length
      "chip T2 ds18b20 FF0000000012345628\n"       // 4 too long
      "chip T3 ds18b20 " + RomToText(MakeRom(0x10, 1)) + "\n"  // 5 family
      "chip T4 ds18b20 00" + RomToText(MakeRom(0x28, 1)).substr(2) + "\n"  // 6 crc (unless it is 00)
      "value NOPE temp 3\n"                        // 7 unknown chip
      "chip T5 ds18b20 auto\n"
      "value T5 volts 3\n"                         // 9 quantity
      "value T5 temp sine 1 2\n"                   // 10 arity
      "value T5 temp ramp x 1\n"                   // 11 number
      "value T5 temp steps 1h:3\n"                 // 12 step
      "value T5 temp wobble 3\n"                   // 13 program
      "fault T5 melted\n"                          // 14 fault
      "fault T5 bit-errors 2 1\n"                  // 15 rate
      "frobnicate\n"                               // 16 keyword
      "adapter 5 12\n"                             // 17 second adapter
      "chip T5 ds18b20 auto\n"                     // 18 duplicate name
      "value T5 temp sine 1 2 0\n";                // 19 zero period
  auto net = Parse(text);
  EXPECT_FALSE(net);
  const bool crcIsZero = MakeRom(0x28, 1)[7] == 0;
  for (int line : {2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19})
    EXPECT_NE(error.find("line " + std::to_string(line) + ":"), std::string::npos) << "line " << line << "\n" << error;
  if (!crcIsZero) {
    EXPECT_NE(error.find("line 6: ROM"), std::string::npos) << error;
  }
  EXPECT_NE(error.find("bad CRC"), std::string::npos);
  EXPECT_EQ(error.find("line 8:"), std::string::npos);
  EXPECT_EQ(error.find("line 1:"), std::string::npos);
}

TEST_F(StationTest, MissingAdapterAndMissingFile) {
  EXPECT_FALSE(Parse("chip T0 ds18b20 auto\n"));
  EXPECT_NE(error.find("no adapter"), std::string::npos);
  EXPECT_FALSE(LoadStation("/nonexistent/dir/station.txt", clock, error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST_F(StationTest, LoadsAFileAndServesItsAdapter) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("wx_station_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                    std::to_string(reinterpret_cast<uintptr_t>(this)));
  std::filesystem::create_directories(dir);
  const auto path = (dir / "station.txt").string();
  {
    std::ofstream f(path);
    f << "adapter 1 0\r\nchip T0 DS18B20 auto\r\nvalue T0 temp const 20.5\r\n";  // CRLF too
  }
  auto net = LoadStation(path, clock, error);
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(net) << error;
  test::Master m(*net);
  EXPECT_LT(m.tmex.TMExtendedStartSession(1, 5, nullptr), 1);
  m.Open();
  ASSERT_EQ(m.Select(net->chips()[0]->rom(), true), 1);
  m.Send({0x44});
  clock.AdvanceMs(750);
  ASSERT_EQ(m.Select(net->chips()[0]->rom()), 1);
  m.Send({0xBE});
  auto pad = m.Read(2);
  EXPECT_EQ(pad[0] | pad[1] << 8, 328);  // 20.5 * 16
}

}  // namespace
}  // namespace wx
