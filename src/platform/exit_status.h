// SPDX-License-Identifier: GPL-2.0-or-later
// The program's exit statuses, documented in the README and the man page, so
// that systemd and scripts can tell a fault from a normal end.
#pragma once

namespace wx {

constexpr int kExitOk = 0;           // a normal quit (button, menu, SIGTERM, SIGINT, SIGHUP)
constexpr int kExitConfig = 1;       // a fatal fault in a configuration or station file
constexpr int kExitUsage = 2;        // a wrong command line
constexpr int kExitRunTime = 3;      // data root or data log unusable, or a quit that did not finish
constexpr int kExitNoDisplay = 4;    // windows asked for, but no display to show them on

}  // namespace wx
