// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/options.h"
#include "config/settings.h"

#include <gtest/gtest.h>

namespace wx {
namespace {

std::optional<Options> Parse(std::vector<std::string> args) {
  std::string error;
  auto o = ParseOptions(args, error);
  EXPECT_EQ(o.has_value(), error.empty()) << error;
  return o;
}

TEST(OptionsTest, HelpListsEveryOptionTheParserTakes) {
  const std::vector<std::vector<std::string>> each = {
      {"--headless"}, {"--root", "r"}, {"--simulate", "s"}, {"--serial-device", "/dev/ttyUSB0"},
      {"--demo"},     {"--help"},      {"-h"},              {"--version"}};
  const std::string help = HelpText();
  for (const auto& args : each) {
    EXPECT_TRUE(Parse(args)) << args[0];
    EXPECT_NE(help.find(args[0] + (args[0] == "-h" ? "," : " ")), std::string::npos) << args[0];
  }
  EXPECT_NE(help.find("--speed N"), std::string::npos);
  EXPECT_TRUE(Parse({"--version"})->version);
  EXPECT_NE(VersionText().find(kVersionText), std::string::npos);
}

TEST(OptionsTest, TimeLapseDemoKeepsToItsOwnFolder) {
  EXPECT_EQ(Parse({"--demo"})->demoDir, "wx118-demo");
  EXPECT_EQ(Parse({"--demo", "--speed", "1"})->demoDir, "wx118-demo");
  EXPECT_EQ(Parse({"--demo", "--speed", "200"})->demoDir, kTimeLapseDemoDir);
  EXPECT_EQ(Parse({"--speed", "200", "--demo", "--headless"})->demoDir, kTimeLapseDemoDir);
  EXPECT_EQ(Parse({"--demo", "mine", "--speed", "200"})->demoDir, "mine");
}

}  // namespace
}  // namespace wx
