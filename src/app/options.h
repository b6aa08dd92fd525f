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
  bool demo = false;
  std::string demoDir = "wx118-demo";       // --demo [DIR]
  double speed = 1.0;                       // --speed N
  bool speedGiven = false;
  bool help = false;
};

// Parses argv (without the program name). On a fault returns nullopt and sets
// error to a one-line explanation.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);
std::string UsageText();

}  // namespace wx
