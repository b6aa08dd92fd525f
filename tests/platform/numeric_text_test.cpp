// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "config/settings.h"
#include "platform/numeric_text.h"

namespace wx {
namespace {

TEST(FormatTtureTest, ThreeSignificantDigitsThenOneDecimal) {
  EXPECT_EQ(FormatTture(21.46f), "21.5");
  EXPECT_EQ(FormatTture(-5.23f), "-5.2");
  EXPECT_EQ(FormatTture(104.56f), "105.0");
  EXPECT_EQ(FormatTture(0.0f), "0.0");
  EXPECT_EQ(FormatTture(-40.0f), "-40.0");
  EXPECT_EQ(FormatTture(999.0f), "999.0");
  EXPECT_EQ(FormatTture(-104.4f), "-104.0");
  EXPECT_EQ(FormatTture(1234.5f), "1230.0");
  EXPECT_EQ(FormatTture(99.96f), "100.0");
  EXPECT_EQ(FormatTture(1.249f), "1.2");  // rounded once, not 1.25 then 1.3
  EXPECT_EQ(FormatTture(-0.04f), "0.0");
  // Exact halves round away from zero, at either step.
  EXPECT_EQ(FormatTture(CelsiusToFahrenheit(21.25f)), "70.3");
  EXPECT_EQ(FormatTture(-0.25f), "-0.3");
  EXPECT_EQ(FormatTture(104.5f), "105.0");
  EXPECT_EQ(FormatTture(-1045.0f), "-1050.0");
}

TEST(CelsiusToFahrenheitTest, ConvertsAndKeepsTheSentinel) {
  EXPECT_EQ(CelsiusToFahrenheit(999.0f), 999.0f);
  EXPECT_FLOAT_EQ(CelsiusToFahrenheit(0.0f), 32.0f);
  EXPECT_FLOAT_EQ(CelsiusToFahrenheit(-40.0f), -40.0f);
  EXPECT_FLOAT_EQ(CelsiusToFahrenheit(100.0f), 212.0f);
  EXPECT_EQ(FormatTture(CelsiusToFahrenheit(21.3f)), "70.3");
}

struct ToggleFixture : ::testing::Test {
  PlotConfig plot;
  MainView main;
  NumericView numeric;
  bool showCelsius = false;
  std::array<float, 5> latest{999.0f, 999.0f, 999.0f, 999.0f, 999.0f};
  void SetUp() override { SetDefaultChannelLabels(plot); }
};

TEST_F(ToggleFixture, BeforeAnyReadingOnlyCaptionsChange) {
  ToggleUnits(showCelsius, main, numeric, plot.channelLabel, latest);
  EXPECT_TRUE(showCelsius);
  EXPECT_EQ(main.buCorFCaption, "&Show F'heit");
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(numeric.laTture[k].text, "- - -");
    EXPECT_EQ(numeric.laTxtTture[k].text, "T" + std::to_string(k) + " (C)");
  }
  ToggleUnits(showCelsius, main, numeric, plot.channelLabel, latest);
  EXPECT_FALSE(showCelsius);
  EXPECT_EQ(main.buCorFCaption, "&Show Celcius");
  EXPECT_EQ(numeric.laTxtTture[0].text, "T0 (F)");
}

TEST_F(ToggleFixture, ValuesFollowTheUnitAndUnreadChannelsKeepTheirText) {
  latest = {0.0f, -40.0f, 999.0f, 21.46f, 40.0f};
  numeric.laTture[2].text = "- - -";
  ToggleUnits(showCelsius, main, numeric, plot.channelLabel, latest);  // to Celsius
  EXPECT_EQ(numeric.laTture[0].text, "0.0");
  EXPECT_EQ(numeric.laTture[1].text, "-40.0");
  EXPECT_EQ(numeric.laTture[2].text, "- - -");
  EXPECT_EQ(numeric.laTture[3].text, "21.5");
  ToggleUnits(showCelsius, main, numeric, plot.channelLabel, latest);  // back to Fahrenheit
  EXPECT_EQ(numeric.laTture[0].text, "32.0");
  EXPECT_EQ(numeric.laTture[1].text, "-40.0");
  EXPECT_EQ(numeric.laTture[2].text, "- - -");
  EXPECT_EQ(numeric.laTture[4].text, "104.0");
}

TEST_F(ToggleFixture, CaptionRefreshUsesLabelsAsTheyAre) {
  plot.channelLabel[0] = "Out";
  plot.channelLabel[5] = "Rain";
  plot.channelLabel[12] = "Pump";
  plot.channelLabel[10] = "never shown";
  RefreshCaptions(plot.channelLabel, main.buCorFCaption, numeric);
  EXPECT_EQ(numeric.laTxtTture[0].text, "Out(F)");
  EXPECT_EQ(numeric.laTxtTture[3].text, "T3 (F)");
  EXPECT_EQ(numeric.laTxtRainfall.text, "Rain");
  EXPECT_EQ(numeric.laTxtOnOff2.text, "Pump");
  EXPECT_EQ(numeric.laTxtOnOff1.text, "OnOff1");
  EXPECT_EQ(numeric.laTxtLtning.text, "LT");
  RefreshCaptions(plot.channelLabel, "&Show F'heit", numeric);
  EXPECT_EQ(numeric.laTxtTture[0].text, "Out(C)");
  // A later toggle rebuilds the caption from the stored label.
  ToggleUnits(showCelsius, main, numeric, plot.channelLabel, latest);
  EXPECT_EQ(numeric.laTxtTture[0].text, "Out(C)");
}

}  // namespace
}  // namespace wx
