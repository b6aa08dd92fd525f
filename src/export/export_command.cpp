// `wx118 export`: the data log to CSV or JSON Lines.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "config/settings.h"
#include "export/log_export.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace wx {
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int Usage(const std::string& error) {
  std::cerr << "wx118 export: " << error << "\n" << ExportUsageText();
  return 2;
}

}  // namespace

std::string ExportUsageText() {
  return "usage: wx118 export [LOG] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--channels LIST]\n"
         "                    [--format csv|jsonl] [--output FILE] [--root DIR] [--ini2 FILE]\n"
         "  LOG       the data log (default: C:/WX18DtLg.txt under the data root)\n"
         "  --from, --to     first and last day to include (local dates)\n"
         "  --channels       e.g. T0,T1,rain,pressure,wind_direction,comments (default: all)\n"
         "  --format         csv (default) or jsonl\n"
         "  --output         write to FILE instead of standard output\n"
         "  --ini2           the secondary file whose [Units] give physical values\n"
         "                   (default: C:\\WX118\\WX118ini2.txt under the data root)\n"
         "Lines that are not whole records are reported on standard error and skipped.\n";
}

int RunExportCommand(const std::vector<std::string>& args) {
  ExportOptions options;
  std::optional<std::string> logPath, outputPath, rootDir, ini2Path;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    const bool takesValue = arg == "--from" || arg == "--to" || arg == "--channels" || arg == "--format" ||
                            arg == "--output" || arg == "--root" || arg == "--ini2";
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    } else if (takesValue) {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      value = args[++i];
    }
    if (arg == "--help" || arg == "-h") {
      std::cout << ExportUsageText();
      return 0;
    } else if (arg == "--from" || arg == "--to") {
      const auto date = ParseExportDate(value);
      if (!date) return Usage(arg + " " + value + " is not a date (YYYY-MM-DD)");
      (arg == "--from" ? options.fromDate : options.toDate) = date;
    } else if (arg == "--channels") {
      std::string error;
      if (!ParseExportChannels(value, options, error)) return Usage(error);
    } else if (arg == "--format") {
      if (value == "csv") {
        options.format = ExportOptions::Format::Csv;
      } else if (value == "jsonl" || value == "json") {
        options.format = ExportOptions::Format::Jsonl;
      } else {
        return Usage("--format " + value + ": csv or jsonl");
      }
    } else if (arg == "--output") {
      outputPath = value;
    } else if (arg == "--root") {
      rootDir = value;
    } else if (arg == "--ini2") {
      ini2Path = value;
    } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
      return Usage("unknown option " + arg);
    } else if (!logPath) {
      logPath = arg;
    } else {
      return Usage("only one data log at a time");
    }
  }
  if (options.fromDate && options.toDate && *options.fromDate > *options.toDate)
    return Usage("--from is after --to");

  const PathMapper paths(rootDir ? std::filesystem::path(*rootDir) : PathMapper::DefaultRoot());
  const FileLocations files;
  const std::filesystem::path log = logPath ? std::filesystem::path(*logPath) : paths.Map(files.dataLogPath);
  const std::filesystem::path ini2 = ini2Path ? std::filesystem::path(*ini2Path) : paths.Map(files.secondaryConfig);
  std::error_code ec;
  if (ini2Path || std::filesystem::exists(ini2, ec)) {
    const auto profile = ProfileFile::Load(ini2);
    if (!profile) {
      std::cerr << "wx118 export: cannot read " << ini2.string() << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    std::vector<std::string> problems;
    options.units = ReadUnits(*profile, problems);
    for (const std::string& p : problems) std::cerr << "wx118 export: " << p << "\n";
  }

  const int in = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    std::cerr << "wx118 export: cannot open the data log " << log.string() << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  int out = STDOUT_FILENO;
  if (outputPath) {
    out = ::open(outputPath->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
      std::cerr << "wx118 export: cannot write " << *outputPath << ": " << std::strerror(errno) << "\n";
      ::close(in);
      return 1;
    }
  }

  bool writeFailed = false;
  LogExporter exporter(
      options,
      [&](std::string_view data) {
        if (!writeFailed && !WriteAll(out, data)) writeFailed = true;
      },
      [&](std::string_view problem) { std::cerr << "wx118 export: " << log.string() << ", " << problem << "\n"; });
  std::vector<char> buffer(1 << 20);
  int status = 0;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::cerr << "wx118 export: reading " << log.string() << " failed: " << std::strerror(errno) << "\n";
      status = 1;
      break;
    }
    if (n == 0 || writeFailed) break;
    exporter.Feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
  }
  exporter.Finish();
  ::close(in);
  if (outputPath && ::close(out) != 0) writeFailed = true;
  if (writeFailed) {
    std::cerr << "wx118 export: writing the output failed: " << std::strerror(errno) << "\n";
    return 1;
  }
  if (exporter.linesSkipped() > 0)
    std::cerr << "wx118 export: " << exporter.linesSkipped() << " of " << exporter.linesRead()
              << " lines skipped\n";
  return status;
}

}  // namespace wx
