#include "app/options.h"

#include <cstdlib>

namespace wx {

std::string UsageText() {
  return "usage: wx118 [--headless] [--root DIR] [--serial-device PATH]\n"
         "             [--simulate STATION-FILE [--speed N]]\n"
         "       wx118 --demo [DIR] [--speed N] [--headless] [--root DIR]\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
        error = a + " needs " + what;
        return std::nullopt;
      }
      return args[++i];
    };
    if (a == "--headless") {
      o.headless = true;
    } else if (a == "--root") {
      if (!(o.root = value("a folder"))) return std::nullopt;
    } else if (a == "--simulate") {
      if (!(o.simulate = value("a station file"))) return std::nullopt;
    } else if (a == "--serial-device") {
      if (!(o.serialDevice = value("a device path"))) return std::nullopt;
    } else if (a == "--demo") {
      o.demo = true;
      if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) o.demoDir = args[++i];
    } else if (a == "--speed") {
      auto v = value("a number");
      if (!v) return std::nullopt;
      char* end = nullptr;
      const double s = std::strtod(v->c_str(), &end);
      if (end == v->c_str() || *end != '\0' || !(s >= 1.0) || s > 100000.0) {
        error = "--speed needs a number from 1 to 100000, not \"" + *v + "\"";
        return std::nullopt;
      }
      o.speed = s;
      o.speedGiven = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else {
      error = "unknown option \"" + a + "\"";
      return std::nullopt;
    }
  }
  if (o.speedGiven && !o.demo && !o.simulate) {
    error = "--speed works only with --demo or --simulate: a real station runs in real time";
    return std::nullopt;
  }
  if (o.demo && o.simulate) {
    error = "--demo brings its own simulated station; leave out --simulate";
    return std::nullopt;
  }
  if (o.serialDevice && (o.demo || o.simulate)) {
    error = "--serial-device is for a real adapter; it cannot be combined with --demo or --simulate";
    return std::nullopt;
  }
  return o;
}

}  // namespace wx
