// SPDX-License-Identifier: GPL-2.0-or-later
// Signals. The quit signals (SIGTERM, SIGINT, SIGHUP) take the same quit path
// as the Quit button; SIGPIPE and SIGXFSZ are ignored, so that a reader who
// left or a file-size limit turns into a write error that is reported where
// it happens instead of killing the program.
#pragma once
#include <functional>
#include <vector>

namespace wx {

// A quit that has not ended the program this long after the signal (a wait
// that never returns) ends it at once with kExitRunTime.
constexpr unsigned kQuitDeadlineSeconds = 10;

// The signals that end the program the way the Quit button does.
const std::vector<int>& QuitSignals();

// Idempotent; the monitor calls it too, since every file it writes must be
// able to report a failed write.
void IgnoreWriteSignals();

// For the first instruction of main: until InstallQuitOnSignals, a quit
// signal ends the program at once (status 0), as nothing is open yet.
void CatchQuitSignalsEarly();

// From here on a quit signal calls quit() on the GUI thread (through a
// self-pipe); a quit still unfinished deadlineSeconds after the signal ends
// the program. Needs a running Qt application object; the first call counts.
void InstallQuitOnSignals(std::function<void()> quit, unsigned deadlineSeconds = kQuitDeadlineSeconds);

}  // namespace wx
