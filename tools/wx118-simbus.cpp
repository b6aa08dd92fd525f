// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated station behind a simulated DS9097U on a pseudo-terminal:
//   wx118-simbus [--trace] [--link PATH] [--byte-time] [--latency MS] STATION-FILE
// prints the pty's path (one line) and answers on it as a DS2480B until
// SIGTERM or SIGINT. Any serial 1-Wire master can use the path as its port.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/clock.h"
#include "tmex/ds2480b/pty_adapter.h"
#include "tmex/sim/station_file.h"

namespace {

const char kUsage[] =
    "usage: wx118-simbus [--trace] [--link PATH] [--byte-time] [--latency MS] STATION-FILE\n"
    "\n"
    "Serves the simulated station of STATION-FILE (see docs/station-file.md)\n"
    "behind an emulated DS2480B serial 1-Wire adapter (DS9097U) on a new\n"
    "pseudo-terminal. The terminal's path is printed as the first line on\n"
    "standard output; give it to a master as its serial port, e.g.\n"
    "  wx118 --serial-device PATH, digitemp_DS9097U -s PATH, owserver -d PATH.\n"
    "Values follow the station's programs in real time from the start.\n"
    "Closing the port counts as a power cycle of the adapter; masters may\n"
    "change the baud rate freely. Runs until SIGTERM or SIGINT.\n"
    "\n"
    "  --trace      log every byte in (>) and out (<) on standard error\n"
    "  --link PATH  also make PATH a symbolic link to the terminal (removed at exit)\n"
    "  --byte-time  answer as late as a real line would: 10 bits a byte, the\n"
    "               request's and the answer's, at the baud rate the master set\n"
    "  --latency MS add MS milliseconds to every answer, as the latency timer\n"
    "               of a USB serial converter does (16 on the common chips)\n"
    "  --help       this text\n";

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void PrintTrace(const wx::SystemClock& clock, char dir, const std::vector<uint8_t>& bytes) {
  std::string line;
  char buf[8];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, " %02X", b);
    line += buf;
  }
  std::fprintf(stderr, "%10u %c%s\n", clock.GetTickCount(), dir, line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  bool trace = false, byteTime = false;
  int latencyMs = 0;
  std::string link, stationFile;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--trace") {
      trace = true;
    } else if (a == "--byte-time") {
      byteTime = true;
    } else if (a == "--latency") {
      char* end = nullptr;
      const long v = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : -1;
      if (i + 1 >= argc || *end != '\0' || v < 0 || v > 10000) {
        std::fprintf(stderr, "wx118-simbus: --latency needs milliseconds (0..10000)\n%s", kUsage);
        return 2;
      }
      latencyMs = static_cast<int>(v);
      ++i;
    } else if (a == "--link") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "wx118-simbus: --link needs a path\n%s", kUsage);
        return 2;
      }
      link = argv[++i];
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "wx118-simbus: unknown option \"%s\"\n%s", a.c_str(), kUsage);
      return 2;
    } else if (stationFile.empty()) {
      stationFile = a;
    } else {
      std::fprintf(stderr, "wx118-simbus: one station file only\n%s", kUsage);
      return 2;
    }
  }
  if (stationFile.empty()) {
    std::fprintf(stderr, "wx118-simbus: no station file given\n%s", kUsage);
    return 2;
  }

  wx::SystemClock clock;
  std::string error;
  std::unique_ptr<wx::SimNetwork> net = wx::LoadStation(stationFile, clock, error);
  if (!net) {
    std::fprintf(stderr, "wx118-simbus: bad station file\n%s\n", error.c_str());
    return 1;
  }
  if (net->adapterType() != 5)
    std::fprintf(stderr,
                 "wx118-simbus: note: the station file names adapter type %d; served as a "
                 "DS9097U (type 5) all the same\n",
                 net->adapterType());

  // SIGTERM and SIGINT are taken only while waiting for traffic, so a
  // half-answered request is always finished first.
  sigset_t block, waitMask;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGINT);
  sigprocmask(SIG_BLOCK, &block, &waitMask);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGINT);
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  wx::Ds2480bPty pty(*net);
  if (!pty.Open()) {
    std::fprintf(stderr, "wx118-simbus: %s\n", pty.error().c_str());
    return 1;
  }
  if (!net->adapterAnswers()) pty.SetAnswering(false);  // a dead adapter
  pty.SetWireTiming(byteTime, latencyMs);
  if (trace) pty.SetTrace([&clock](char d, const std::vector<uint8_t>& b) { PrintTrace(clock, d, b); });
  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(pty.slavePath().c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "wx118-simbus: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::printf("%s\n", pty.slavePath().c_str());
  std::fflush(stdout);

  int rc = 0;
  int lastBaud = pty.MasterBaud();
  while (!g_stop) {
    const auto r = pty.Serve(1000, &waitMask);
    if (r == wx::Ds2480bPty::Result::kFailed) {
      std::fprintf(stderr, "wx118-simbus: the pseudo-terminal failed\n");
      rc = 1;
      break;
    }
    if (trace) {
      const int baud = pty.MasterBaud();
      if (baud != lastBaud) std::fprintf(stderr, "%10u baud %d\n", clock.GetTickCount(), baud);
      lastBaud = baud;
    }
  }
  if (!link.empty()) ::unlink(link.c_str());
  return rc;
}
