// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/options.h"

#include <cstdlib>

#include "config/settings.h"
#include "onewire/owserver_chip_bus.h"

#ifndef WX118_VERSION
#define WX118_VERSION "unknown"
#endif

namespace wx {

std::string UsageText() {
  return "usage: wx118 [--headless] [--root DIR] [--serial-device PATH | --owserver HOST:PORT]\n"
         "             [--simulate STATION-FILE [--speed N]]\n"
         "       wx118 --demo [DIR] [--speed N] [--headless] [--root DIR]\n"
         "       wx118 --version | --help\n"
         "       wx118 scan [--owserver HOST:PORT | --serial-device PATH | --simulate FILE] [--write-primary FILE]\n"
         "       wx118 export [LOG] [--from DATE] [--to DATE] [--channels LIST] [--format csv|jsonl]\n"
         "       wx118 archive rebuild [LOG...]\n"
         "       wx118 summary --month YYYY-MM | --year YYYY\n";
}

std::string HelpText() {
  return UsageText() +
         "\n"
         "Reads a 1-Wire weather station, logs and charts its readings and publishes a web page.\n"
         "\n"
         "  --headless             no windows: messages to standard error, error lines to standard output\n"
         "  --demo [DIR]           create (if missing) and run a simulated station in DIR\n"
         "                         (default ./wx118-demo; with --speed, ./" + std::string(kTimeLapseDemoDir) + ")\n"
         "  --speed N              demo and simulated runs only: time runs N times faster (1 to 100000)\n"
         "  --simulate FILE        read the simulated station described in FILE instead of the adapter\n"
         "  --root DIR             where drive-letter paths land (default $XDG_DATA_HOME/wx118)\n"
         "  --serial-device PATH   the adapter's serial device, instead of the one the port digit maps to\n"
         "  --owserver HOST:PORT   read the chips through owserver (OWFS) instead of the adapter\n"
         "  --version              print the version and exit\n"
         "  -h, --help             print this help and exit\n"
         "  scan ...               list the chips on the bus, draft a primary file (wx118 scan --help)\n"
         "  export ...             the data log as CSV or JSON Lines (wx118 export --help)\n"
         "  archive rebuild ...    the archive built anew from data logs, rotated and .gz ones too\n"
         "  summary ...            the month's or year's climatological summary from the archive\n"
         "\n"
         "Exit status: 0 normal quit (also on SIGTERM, SIGINT, SIGHUP), 1 configuration fault,\n"
         "2 wrong command line, 3 run-time fault (data root or data log unusable), 4 no display.\n"
         "See wx118(1).\n";
}

std::string VersionText() {
  return std::string("wx118 ") + WX118_VERSION + " (WX118 Ver:" + kVersionText + ")";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
  Options o;
  bool demoDirGiven = false;
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
    } else if (a == "--owserver") {
      const auto v = value("HOST:PORT");
      if (!v) return std::nullopt;
      std::string why;
      if (!(o.owserver = CheckOwserverAddress(*v, why))) {
        error = "--owserver: " + why;
        return std::nullopt;
      }
    } else if (a == "--demo") {
      o.demo = true;
      if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
        o.demoDir = args[++i];
        demoDirGiven = true;
      }
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
    } else if (a == "--version") {
      o.version = true;
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
  if (o.owserver && (o.demo || o.simulate || o.serialDevice)) {
    error = "--owserver reads the chips through owserver; it cannot be combined with --demo, --simulate or "
            "--serial-device";
    return std::nullopt;
  }
  if (o.demo && o.speed > 1.0 && !demoDirGiven) o.demoDir = kTimeLapseDemoDir;
  return o;
}

}  // namespace wx
