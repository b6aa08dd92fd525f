// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/archive_command.h"

#include <cstdlib>
#include <iostream>
#include <optional>

#include "archive/archive_rebuild.h"
#include "archive/archive_writer.h"
#include "datalog/stamps.h"
#include "config/settings.h"
#include "platform/file_checks.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/single_instance.h"
#include "weather/station.h"
#include "weather/weather.h"

namespace wx {

namespace {

struct CommonOptions {
  std::optional<std::string> root, ini2, archive;
  std::vector<std::string> rest;  // what the command itself reads
};

// --root, --ini2 and --archive, as "--x value" or "--x=value"; false with a
// message for a missing value.
bool SplitCommon(const std::vector<std::string>& args, CommonOptions& out, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i], value;
    const size_t eq = arg.find('=');
    const bool hasValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
    if (hasValue) value = arg.substr(eq + 1), arg.resize(eq);
    std::optional<std::string>* slot = arg == "--root"      ? &out.root
                                       : arg == "--ini2"    ? &out.ini2
                                       : arg == "--archive" ? &out.archive
                                                            : nullptr;
    if (!slot) {
      out.rest.push_back(args[i]);
      continue;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      value = args[++i];
    }
    *slot = value;
  }
  return true;
}

struct Installation {
  PathMapper paths;
  std::filesystem::path dataLog, archive;
  std::optional<ProfileFile> ini2;
  std::string pageFolder;  // native, ending in '/'
};

Installation Locate(const CommonOptions& o, const char* command) {
  Installation in{PathMapper(o.root ? std::filesystem::path(*o.root) : PathMapper::DefaultRoot()), {}, {}, {}, {}};
  const FileLocations files;
  in.dataLog = in.paths.Map(files.dataLogPath);
  in.archive = o.archive ? std::filesystem::path(*o.archive) : in.dataLog.parent_path() / kArchiveFileName;
  const std::filesystem::path ini2 = o.ini2 ? std::filesystem::path(*o.ini2) : in.paths.Map(files.secondaryConfig);
  const FileText text = ReadWholeFile(ini2, kMaxConfigFileBytes);
  if (text.ok)
    in.ini2 = ProfileFile::FromText(text.text);
  else if (o.ini2 || !text.missing)
    std::cerr << "wx118 " << command << ": cannot read " << ini2.string() << ": " << text.reason
              << "; going on with the defaults\n";
  std::string folder = in.ini2 ? in.ini2->ReadString("swg", "wgp", PageConfig{}.pageFolder) : PageConfig{}.pageFolder;
  if (folder.empty()) folder = PageConfig{}.pageFolder;
  if (folder.back() != '\\' && folder.back() != '/') folder += '/';
  in.pageFolder = in.paths.Map(folder).string();
  if (in.pageFolder.back() != '/') in.pageFolder += '/';
  return in;
}

StationSettings Station(const Installation& in, std::vector<std::string>& problems) {
  return in.ini2 ? ReadStationSettings(*in.ini2, problems) : StationSettings{};
}

int Usage(const std::string& command, const std::string& why) {
  std::cerr << "wx118 " << command << ": " << why << "\n" << ArchiveUsageText();
  return 2;
}

}  // namespace

std::string ArchiveUsageText() {
  return "usage: wx118 archive rebuild [LOG...] [--root DIR] [--ini2 FILE] [--archive FILE]\n"
         "       wx118 summary --month YYYY-MM | --year YYYY [--root DIR] [--ini2 FILE] [--archive FILE]\n"
         "  rebuild   builds the archive (wx118-archive.sqlite beside the data log) anew\n"
         "            from data logs, plain or gzip-compressed, oldest first; without\n"
         "            LOG, the data log and its rotated copies beside it\n"
         "  summary   prints the monthly or yearly climatological summary from the archive\n";
}

int RunSummaryCommand(const std::vector<std::string>& args) {
  CommonOptions o;
  std::string error;
  if (!SplitCommon(args, o, error)) return Usage("summary", error);
  std::optional<int> year;
  int month = 0;  // 0: the year
  for (size_t i = 0; i < o.rest.size(); ++i) {
    std::string arg = o.rest[i], value;
    if (arg == "--help" || arg == "-h") {
      std::cout << ArchiveUsageText();
      return 0;
    }
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    } else if ((arg == "--month" || arg == "--year") && i + 1 < o.rest.size()) {
      value = o.rest[++i];
    }
    int y = 0, m = 0;
    char end = 0;
    if (arg == "--month" && std::sscanf(value.c_str(), "%4d-%2d%c", &y, &m, &end) == 2 && value.size() == 7 &&
        y >= 1900 && m >= 1 && m <= 12) {
      year = y, month = m;
    } else if (arg == "--year" && std::sscanf(value.c_str(), "%4d%c", &y, &end) == 1 && value.size() == 4 &&
               y >= 1900) {
      year = y, month = 0;
    } else {
      return Usage("summary", "not understood: " + o.rest[i] + (value.empty() ? "" : " " + value));
    }
  }
  if (!year) return Usage("summary", "--month YYYY-MM or --year YYYY is needed");
  const Installation in = Locate(o, "summary");
  std::error_code ec;
  if (!std::filesystem::exists(in.archive, ec)) {
    std::cerr << "wx118 summary: there is no archive at " << in.archive.string()
              << " (the monitor writes it; wx118 archive rebuild builds it from the data logs)\n";
    return 1;
  }
  ArchiveDb db;
  if (!db.Open(in.archive, true)) {
    std::cerr << "wx118 summary: cannot open " << in.archive.string() << ": " << db.Error() << "\n";
    return 1;
  }
  std::vector<std::string> problems;
  const StationSettings station = Station(in, problems);
  std::cout << (month ? MonthSummary(db, *year, month, station) : YearSummary(db, *year, station));
  return std::cout.good() ? 0 : 1;
}

int RunArchiveCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("archive", "which? (rebuild)");
  if (args[0] == "--help" || args[0] == "-h") {
    std::cout << ArchiveUsageText();
    return 0;
  }
  if (args[0] != "rebuild") return Usage("archive", "unknown command " + args[0]);
  CommonOptions o;
  std::string error;
  if (!SplitCommon({args.begin() + 1, args.end()}, o, error)) return Usage("archive", error);
  std::vector<std::filesystem::path> logs;
  for (const std::string& a : o.rest) {
    if (a == "--help" || a == "-h") {
      std::cout << ArchiveUsageText();
      return 0;
    }
    if (a.rfind("-", 0) == 0 && a.size() > 1) return Usage("archive", "unknown option " + a);
    logs.emplace_back(a);
  }
  const Installation in = Locate(o, "archive");
  if (logs.empty()) logs = RotatedLogs(in.dataLog);
  if (logs.empty()) {
    std::cerr << "wx118 archive: no data log at " << in.dataLog.string() << "\n";
    return 1;
  }
  // The monitor of this data folder writes the same archive: it must not
  // run meanwhile (another archive file, given with --archive, is free).
  DataFolderLock lock;
  if (!o.archive && lock.Acquire(in.dataLog.parent_path()) == DataFolderLock::Result::HeldElsewhere) {
    std::cerr << "wx118 archive: the monitor (process " << lock.HolderPid() << ") is running on "
              << in.dataLog.parent_path().string() << "; stop it first, or give --archive FILE\n";
    return 1;
  }
  std::vector<std::string> problems;
  Settings settings;
  ApplyDefaults(settings);
  const StationSettings station = Station(in, problems);
  ArchiveSettings archive;
  if (in.ini2) {
    settings.units = ReadUnits(*in.ini2, problems);
    archive = ReadArchiveSettings(*in.ini2, problems);
  }
  for (const std::string& p : problems) std::cerr << "wx118 archive: " << p << "\n";
  const int year = SystemYear();
  std::vector<std::string> skipped;
  logs = OldestFirst(logs, year, skipped);
  for (const std::string& s : skipped) std::cerr << "wx118 archive: skipped " << s << "\n";
  ArchiveDb db;
  if (!db.Open(in.archive)) {
    std::cerr << "wx118 archive: cannot open " << in.archive.string() << ": " << db.Error() << "\n";
    return 1;
  }
  struct Quiet : ErrorSink {
    void ShowError(const std::string& m) override { std::cerr << "wx118 archive: " << m << "\n"; }
  } sink;
  Weather weather(settings, station, sink);
  RebuildEngine engine{
      [&](const Reading& reading) { weather.OnReading(reading); }, [&](DateTime now) { return weather.Snapshot(now); },
      [&](int offset) { settings.station.windOffset = static_cast<uint8_t>(offset); }, station.outdoor};
  const RebuildReport r = RebuildArchive(db, logs, archive.intervalMinutes * 60, engine, year,
                                         [](const std::string& line) { std::cout << "read " << line << "\n"; });
  if (!r.error.empty()) {
    std::cerr << "wx118 archive: the rebuild failed, the archive is as it was: " << r.error << "\n";
    return 1;
  }
  std::cout << "archive " << in.archive.string() << ": " << r.records << " records from " << r.readings
            << " readings in " << r.files << " files\n";
  if (r.lastTime && in.ini2 && in.ini2->ReadInteger("PhonePage", "Index", 0) != 0) {
    std::set<std::string> swept;
    if (const std::string why = WriteHistoryFiles(db, in.pageFolder, r.lastTime, station, swept); !why.empty())
      std::cerr << "wx118 archive: " << why << "\n";
  }
  return 0;
}

}  // namespace wx
