// SPDX-License-Identifier: GPL-2.0-or-later
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

// The demo's values (from its station programs) against its chart settings:
// every trace keeps to a band of its own without wrapping, so none paints
// the whole height or hides under another, and the main window shows the
// whole chart.
TEST_F(DemoTest, DemoChartGivesEveryTraceABandOfItsOwn) {
  const DemoPaths p = WriteDemoInstallation(work);
  std::filesystem::copy_file(p.station, work / "station.txt");
  root = p.root;
  Start();
  ASSERT_TRUE(ui->messages.size() <= 1u) << ui->messages.back();  // the new data log only
  const StripChart& chart = monitor->chart();
  struct Range {
    const char* name;
    std::vector<int> channels;
    double lo, hi;  // degrees C, hundredths of a volt or counts
  };
  const double windCountsOnTheChart = 5000 * 24 * 9.36;  // the cup counter across the chart's width
  const Range ranges[] = {{"temperatures", {0, 1, 2, 3, 4}, 2, 21.6}, {"rain", {5}, 0, 70},
                          {"lightning", {7}, 0, 8},   {"pressure", {8}, 425, 495},
                          {"humidity", {9}, 210, 370}, {"wind speed", {6}, 0, windCountsOnTheChart}};
  auto row = [&](int ch, double v) {
    if (ch <= 4) return chart.TtureRow(ch, static_cast<float>(v));
    if (ch == 8 || ch == 9) return chart.AnalogRow(ch, static_cast<int>(v));
    return chart.CounterRow(static_cast<int32_t>(v), ch);
  };
  std::vector<std::pair<int, int>> bands;  // top and bottom row of each range but the wind speed
  for (const Range& r : ranges) {
    for (int ch : r.channels) {
      int previous = row(ch, r.lo);
      for (int i = 1; i <= 50; ++i) {
        const int now = row(ch, r.lo + (r.hi - r.lo) * i / 50);
        EXPECT_LE(now, previous) << r.name << " " << ch << ": a higher value lower down";
        EXPECT_LT(previous - now, 30) << r.name << " " << ch << ": the trace wraps";
        previous = now;
      }
    }
    const int top = row(r.channels[0], r.hi), bottom = row(r.channels[0], r.lo);
    EXPECT_GE(bottom - top, 5) << r.name << ": too flat to read";
    if (r.channels[0] != 6) bands.emplace_back(top, bottom);
  }
  for (size_t i = 0; i < bands.size(); ++i)
    for (size_t j = i + 1; j < bands.size(); ++j)
      EXPECT_TRUE(bands[i].second < bands[j].first || bands[j].second < bands[i].first)
          << ranges[i].name << " and " << ranges[j].name << " overlap";
  // On/off 2 changes every half hour: its level, not a band of strokes.
  EXPECT_EQ(monitor->settings.plot.variousOne1[12], 1);
  EXPECT_GE(monitor->settings.schemeRect[0][0].width, 6 + kGraphWidth + 8);
}

}  // namespace
}  // namespace wx
