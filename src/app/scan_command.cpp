// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/scan_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>

#include "app/demo.h"
#include "onewire/bus_scan.h"
#include "onewire/owserver_chip_bus.h"
#include "platform/exit_status.h"
#include "tmex/ds2480b/serial_backend.h"

namespace wx {

namespace {

constexpr const char* kScanUsage =
    "usage: wx118 scan [--owserver HOST:PORT | --serial-device PATH | --simulate FILE] [--write-primary FILE]\n"
    "Lists every chip on the bus (owserver on 127.0.0.1:4304 unless told otherwise): its ID as the primary\n"
    "file wants it, family, chip type and a draft sensor line. --write-primary writes a draft primary file\n"
    "(never over an existing file).\n";

int Usage(const std::string& why) {
  std::cerr << "wx118 scan: " << why << "\n" << kScanUsage;
  return kExitUsage;
}

// The chips through one adapter backend: the serial adapter or a station file.
std::optional<std::vector<ScannedRom>> SearchWith(const BackendFactory& factory, std::string& why) {
  // A station file serves the port and type its adapter line names.
  std::unique_ptr<BusBackend> backend;
  for (int type = 0; type <= 9 && !backend; ++type)
    for (int port = 0; port <= 9 && !backend; ++port) backend = factory(port, type);
  if (!backend || !backend->Open()) {
    why = "no adapter: " + (backend ? backend->LastError() : std::string("none"));
    return std::nullopt;
  }
  auto roms = SearchLine(*backend, why);
  backend->Close();
  return roms;
}

}  // namespace

int RunScanCommand(const std::vector<std::string>& args) {
  std::optional<std::string> owserver, serial, simulate, primary;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::cout << kScanUsage;
      return 0;
    }
    if (i + 1 >= args.size()) return Usage(a == "--owserver" || a == "--serial-device" || a == "--simulate" ||
                                                   a == "--write-primary"
                                               ? a + " needs a value"
                                               : "unknown argument \"" + a + "\"");
    const std::string& v = args[++i];
    if (a == "--owserver") {
      std::string why;
      if (!(owserver = CheckOwserverAddress(v, why))) return Usage("--owserver: " + why);
    } else if (a == "--serial-device") {
      serial = v;
    } else if (a == "--simulate") {
      simulate = v;
    } else if (a == "--write-primary") {
      primary = v;
    } else {
      return Usage("unknown argument \"" + a + "\"");
    }
  }
  if (int(owserver.has_value()) + int(serial.has_value()) + int(simulate.has_value()) > 1)
    return Usage("give one of --owserver, --serial-device and --simulate");

  std::string why;
  std::optional<std::vector<ScannedRom>> roms;
  std::string where;
  if (simulate) {
    SystemClock clock;
    const BackendFactory factory = StationWriter::MakeFactory(*simulate, clock, &why);
    if (!why.empty()) {
      std::cerr << "wx118 scan: station file " << *simulate << ": " << why << "\n";
      return kExitConfig;
    }
    where = "the station file " + *simulate;
    roms = SearchWith(factory, why);
  } else if (serial) {
    where = "the adapter on " + *serial;
    roms = SearchWith(MakeSerialBackendFactory(*serial), why);
  } else {
    const std::string address = owserver.value_or("127.0.0.1:4304");
    where = "owserver " + address;
    roms = ListOwserver(address, why);
  }
  if (!roms) {
    std::cerr << "wx118 scan: " << why << "\n";
    return kExitRunTime;
  }
  const ScanDraft draft = DraftPrimaryFile(*roms);
  std::cout << roms->size() << " chip(s) through " << where << ":\n";
  for (const std::string& line : draft.listing) std::cout << line << "\n";
  if (!primary) return 0;
  // Never over a file that is there: the owner's own primary file may be.
  const int fd = ::open(primary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::cerr << "wx118 scan: cannot write " << *primary << ": " << std::strerror(errno)
              << (errno == EEXIST ? " (it is never overwritten)" : "") << "\n";
    return kExitRunTime;
  }
  const std::string& text = draft.primaryFile;
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (::close(fd) != 0 || !written) {
    std::cerr << "wx118 scan: cannot write " << *primary << ": " << std::strerror(errno) << "\n";
    ::unlink(primary->c_str());
    return kExitRunTime;
  }
  std::cout << "Draft primary file written to " << *primary
            << ": check each line's channel, name it WX118ini.txt and start wx118.\n";
  return 0;
}

}  // namespace wx
