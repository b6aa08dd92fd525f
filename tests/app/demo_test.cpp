// The demo installation: what it creates, that a second run keeps the user's
// files, and that its station reads sensible weather through the monitor.
#include <gtest/gtest.h>

#include <fstream>

#include "app/demo.h"
#include "support/monitor_fixture.h"

namespace wx {
namespace {

class DemoTest : public test::MonitorFixture {};

TEST_F(DemoTest, DemoInstallationIsCompleteAndKeptOnASecondRun) {
  const DemoPaths p = WriteDemoInstallation(work / "demo");
  for (const auto& f : {p.primary, p.station, p.secondary}) EXPECT_TRUE(std::filesystem::exists(f)) << f;
  EXPECT_TRUE(std::filesystem::is_directory(p.www));
  std::ofstream(p.primary, std::ios::app) << "user's own line\r\n";
  const std::string before = ReadFile(p.primary);
  WriteDemoInstallation(work / "demo");
  EXPECT_EQ(ReadFile(p.primary), before);
  std::string error;
  StationWriter::MakeFactory(p.station, clock, &error);
  EXPECT_EQ(error, "");
}

TEST_F(DemoTest, DemoStationReadsEveryChannelWithoutErrors) {
  const DemoPaths p = WriteDemoInstallation(work);
  std::filesystem::copy_file(p.station, work / "station.txt");
  root = p.root;
  Start();
  for (int i = 0; i < 1200; ++i) ui->RunOneTick();
  EXPECT_TRUE(ui->errorLines.empty()) << ui->errorLines.front();
  const auto& n = monitor->views.numeric;
  for (int k = 0; k < 5; ++k) EXPECT_NE(n.laTture[k].text, "- - -") << k;
  EXPECT_NE(n.laBP.text, "9999");
  EXPECT_NE(n.laHum.text, "9999");
  EXPECT_NE(n.laWDi.text, "XXX");
  EXPECT_NE(n.laWDi.text, "???") << "every vane position decodes with the default thresholds";
  EXPECT_NE(n.laWDa.text, "XXX");
  // The page has taken readings into its table since start-up.
  const std::string page = ReadFile(p.www / "WX118WG.htm");
  size_t unread = 0;
  for (size_t at = 0; (at = page.find("Not Read Yet", at)) != std::string::npos; ++at) ++unread;
  EXPECT_LT(unread, 8u);
}

}  // namespace
}  // namespace wx
