// SPDX-License-Identifier: GPL-2.0-or-later
// `wx118 export`: the data log to CSV or JSON Lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "export/log_export.h"
#include "platform/file_checks.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "weather/station.h"

namespace wx {
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// A file the export must never overwrite, and what to call it.
struct GuardedFile {
  std::filesystem::path path;
  std::string what;
};

// The input, the secondary file and every file a monitor on this data root
// writes: its logs, its lock, and the page, picture, current.json and
// index.html in the page folder the secondary file names.
std::vector<GuardedFile> MonitorFiles(const std::filesystem::path& log, const std::filesystem::path& ini2,
                                      const std::optional<ProfileFile>& profile, const PathMapper& paths,
                                      const FileLocations& files) {
  const PageConfig defaults;
  const auto read = [&](const char* section, const char* key, const std::string& fallback) {
    return profile ? profile->ReadString(section, key, fallback) : fallback;
  };
  // As the monitor reads them: an empty folder keeps the default one.
  std::string folder = read("swg", "wgp", defaults.pageFolder);
  if (folder.empty()) folder = defaults.pageFolder;
  if (folder.back() != '\\' && folder.back() != '/') folder += '/';
  const std::string page = read("swg", "wgh", defaults.pageFileName);
  const std::string picture = read("enis", "wgi", defaults.imageFileName);
  const std::filesystem::path dataLog = paths.Map(files.dataLogPath);
  return {
      {log, "the data log being exported"},
      {ini2, "the secondary file " + ini2.string()},
      {dataLog, "the monitor's data log " + dataLog.string()},
      {paths.Map(files.errorLogPath), "the monitor's error log " + paths.Map(files.errorLogPath).string()},
      {dataLog.parent_path() / ".wx118.lock", "the monitor's lock file"},
      {paths.Map(folder + page), "the monitor's page " + paths.Map(folder + page).string()},
      {paths.Map(folder + picture), "the monitor's picture " + paths.Map(folder + picture).string()},
      {paths.Map(folder + "current.json"), "the monitor's " + paths.Map(folder + "current.json").string()},
      {paths.Map(folder + "index.html"), "the monitor's " + paths.Map(folder + "index.html").string()},
  };
}

// What the output is among the guarded files, by device and inode (so a
// symbolic or hard link is caught as well); "" when it is none of them.
std::string OutputClash(const std::filesystem::path& output, const std::vector<GuardedFile>& guarded) {
  struct stat o {};
  if (::stat(output.c_str(), &o) != 0) return "";  // a new file is none of them
  for (const GuardedFile& g : guarded) {
    struct stat st {};
    if (::stat(g.path.c_str(), &st) == 0 && st.st_dev == o.st_dev && st.st_ino == o.st_ino) return g.what;
  }
  return "";
}

// The temporary's name for the signal handler, which may use no locks.
char gTemporary[4096];

extern "C" void DropTemporaryAndDie(int sig) {
  if (gTemporary[0]) ::unlink(gTemporary);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// --output: a regular file is written to a temporary beside it and renamed
// into place at the end, so an export that fails or is interrupted leaves
// the old file as it was and never half a new one. A FIFO or a device
// (/dev/stdout) is written directly.
class ExportOutput {
 public:
  ~ExportOutput() {
    if (fd_ >= 0) ::close(fd_);
    Drop();
  }

  // "" when open, else why not.
  std::string Open(const std::filesystem::path& given) {
    struct stat st {};
    const bool exists = ::stat(given.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return "it is a folder";
    // /dev/stdout and its kin name an open file, which may be regular: it
    // must be written, not replaced.
    const std::string text = given.lexically_normal().string();
    const bool special = text.rfind("/dev/", 0) == 0 || text.rfind("/proc/", 0) == 0;
    if (exists && (special || !S_ISREG(st.st_mode))) {
      fd_ = ::open(given.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      return fd_ < 0 ? std::strerror(errno) : "";
    }
    // Through a symbolic link the file it names is replaced, not the link.
    std::error_code ec;
    target_ = exists ? std::filesystem::canonical(given, ec) : given;
    if (ec) target_ = given;
    const std::filesystem::path folder = target_.has_parent_path() ? target_.parent_path() : ".";
    temporary_ = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
    if (temporary_.size() >= sizeof gTemporary) return "the path is too long";
    fd_ = ::mkstemp(temporary_.data());
    if (fd_ < 0) {
      temporary_.clear();
      return std::strerror(errno);
    }
    std::memcpy(gTemporary, temporary_.c_str(), temporary_.size() + 1);
    struct sigaction sa {};
    sa.sa_handler = DropTemporaryAndDie;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
    // mkstemp makes the file private: keep the old file's mode, or give a
    // new one the mode a plain create would have.
    mode_t mode = 0644;
    if (exists) {
      mode = st.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode &= ~mask;
    }
    if (::fchmod(fd_, mode) != 0) return std::strerror(errno);
    return "";
  }

  int fd() const { return fd_; }

  // Makes the written file the output; "" on success, else why not.
  std::string Commit() {
    std::string why;
    if (temporary_.empty()) {
      if (::close(fd_) != 0) why = std::strerror(errno);
      fd_ = -1;
      return why;
    }
    if (::fsync(fd_) != 0) why = std::strerror(errno);
    if (::close(fd_) != 0 && why.empty()) why = std::strerror(errno);
    fd_ = -1;
    if (why.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) why = std::strerror(errno);
    if (!why.empty()) return why;
    temporary_.clear();
    gTemporary[0] = '\0';
    const std::filesystem::path folder = target_.has_parent_path() ? target_.parent_path() : ".";
    if (const int d = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
      ::fsync(d);
      ::close(d);
    }
    return "";
  }

 private:
  void Drop() {
    if (temporary_.empty()) return;
    ::unlink(temporary_.c_str());
    temporary_.clear();
    gTemporary[0] = '\0';
  }

  int fd_ = -1;
  std::filesystem::path target_;
  std::string temporary_;
};

int Usage(const std::string& error) {
  std::cerr << "wx118 export: " << error << "\n" << ExportUsageText();
  return 2;
}

}  // namespace

std::string ExportUsageText() {
  return "usage: wx118 export [LOG] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--channels LIST]\n"
         "                    [--format csv|jsonl] [--output FILE] [--root DIR] [--ini2 FILE] [--derived]\n"
         "  LOG       the data log (default: C:/WX18DtLg.txt under the data root)\n"
         "  --from, --to     first and last day to include (local dates)\n"
         "  --channels       e.g. T0,T1,rain,pressure,wind_direction,comments (default: all)\n"
         "  --format         csv (default) or jsonl\n"
         "  --output         write to FILE instead of standard output\n"
         "  --ini2           the secondary file whose [Units] give physical values\n"
         "                   (default: C:\\WX118\\WX118ini2.txt under the data root)\n"
         "  --derived        also each day's rain and the highs and lows of its temperatures,\n"
         "                   humidity and pressure, as rows tagged dv after the day\n"
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
    } else if (arg == "--derived") {
      options.derived = true;
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
  const FileText ini2Text = ReadWholeFile(ini2, kMaxConfigFileBytes);
  std::optional<ProfileFile> profile;
  std::vector<std::string> assumed;  // said once the export is sure to run
  if (ini2Path || !ini2Text.missing) {
    if (!ini2Text.ok) {
      std::cerr << "wx118 export: cannot read " << ini2.string() << ": "
                << (ini2Text.missing ? std::strerror(ENOENT) : ini2Text.reason) << "\n";
      return 1;
    }
    profile = ProfileFile::FromText(ini2Text.text);
    std::vector<std::string> problems;
    options.units = ReadUnits(*profile, problems);
    options.station = ReadStationSettings(*profile, problems);
    for (const std::string& p : problems) std::cerr << "wx118 export: " << p << "\n";
    if (!options.units.present)
      assumed.push_back("no [Units] section in " + ini2.string() +
                        ": raw values only (wx118ini2(5) tells how to add physical ones)");
    for (std::string& note : AssumedUnits(*profile, options.units)) assumed.push_back(std::move(note));
  } else {
    assumed.push_back("no [Units] found: there is no secondary file " + ini2.string() +
                      ", so the values are raw only (--ini2 names another file)");
  }

  // A FIFO or a device would be read until killed, or block the open.
  if (const std::string why = NotRegularFileReason(log); !why.empty()) {
    std::cerr << "wx118 export: cannot read the data log " << log.string() << ": " << why << "\n";
    return 1;
  }
  const int in = ::open(log.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) {
    std::cerr << "wx118 export: cannot open the data log " << log.string() << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  struct stat inStat {};
  if (::fstat(in, &inStat) != 0 || !S_ISREG(inStat.st_mode)) {
    std::cerr << "wx118 export: cannot read the data log " << log.string() << ": it is not a regular file\n";
    ::close(in);
    return 1;
  }
  ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  for (const std::string& note : assumed) std::cerr << "wx118 export: " << note << "\n";
  int out = STDOUT_FILENO;
  ExportOutput output;
  if (outputPath) {
    const std::vector<GuardedFile> guarded = MonitorFiles(log, ini2, profile, paths, files);
    if (const std::string clash = OutputClash(*outputPath, guarded); !clash.empty()) {
      std::cerr << "wx118 export: --output " << *outputPath << " is " << clash
                << "; refused, nothing was written\n";
      ::close(in);
      return 2;
    }
    if (const std::string why = output.Open(*outputPath); !why.empty()) {
      std::cerr << "wx118 export: cannot write " << *outputPath << ": " << why << "\n";
      ::close(in);
      return 1;
    }
    out = output.fd();
  }

  bool writeFailed = false;
  int writeErrno = 0;
  LogExporter exporter(
      options,
      [&](std::string_view data) {
        if (!writeFailed && !WriteAll(out, data)) {
          writeFailed = true;
          writeErrno = errno;
        }
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
  if (writeFailed) {
    std::cerr << "wx118 export: writing the output failed: " << std::strerror(writeErrno) << "\n";
    return 1;
  }
  if (outputPath) {
    // Only a whole export takes the output's name.
    const std::string why = status == 0 ? output.Commit() : "";
    if (!why.empty()) {
      std::cerr << "wx118 export: writing the output failed: " << why << "\n";
      return 1;
    }
  }
  if (exporter.linesSkipped() > 0)
    std::cerr << "wx118 export: " << exporter.linesSkipped() << " of " << exporter.linesRead()
              << " lines skipped\n";
  return status;
}

}  // namespace wx
