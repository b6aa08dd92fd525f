// SPDX-License-Identifier: GPL-2.0-or-later
// The command line of wx118.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace wx {

struct Options {
  bool headless = false;
  std::optional<std::string> root;          // --root DIR
  std::optional<std::string> simulate;      // --simulate FILE
  std::optional<std::string> serialDevice;  // --serial-device PATH
  std::optional<std::string> owserver;      // --owserver HOST:PORT, checked
  bool demo = false;
  std::string demoDir = "wx118-demo";       // --demo [DIR]; a time-lapse run: kTimeLapseDemoDir
  double speed = 1.0;                       // --speed N
  bool speedGiven = false;
  bool help = false;
  bool version = false;
};

// A time-lapse demo writes records ahead of the real clock; in the normal
// demo's folder they would leave its chart empty until the clock caught up.
constexpr const char* kTimeLapseDemoDir = "wx118-demo-timelapse";

// Parses argv (without the program name). On a fault returns nullopt and sets
// error to a one-line explanation.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);
std::string UsageText();
// --help: every option, one line each, and the exit statuses.
std::string HelpText();
// --version: the package version and the version the program reports.
std::string VersionText();

}  // namespace wx
