// SPDX-License-Identifier: GPL-2.0-or-later
// The numbers a TMEX call gives besides its success values. A number means
// the same whichever adapter is behind the session (the simulated line or
// the DS2480B serial adapter; the owserver route, which uses no TMEX calls,
// reports its faults in the same way); the error reports show it as the
// "Dallas error". docs/serial-adapter.md and the help file list them for users:
// keep those lists in step with this table.
#pragma once
#include <cstdint>

namespace wx {

enum TmexError : int16_t {
  // Adapter faults, -1 .. -99: reported by the adapter's backend and passed
  // through by the session layer.
  kTmexErrNotOpen = -1,      // the adapter is not open (a byte, bit or reset before it was)
  kTmexErrIo = -2,           // the port failed: a write or wait error, the device gone (unplugged)
  kTmexErrTimeout = -3,      // the adapter did not answer in time
  kTmexErrBadResponse = -4,  // an answer no working adapter gives: a wrong echo, reset or bit answer
  kTmexErrBusShort = -5,     // the 1-Wire line is shorted (held low)
  kTmexErrOutOfStep = -6,    // refused after an earlier fault, until the adapter is opened again
  // Session faults, -200 ..: the session layer's own.
  kTmexErrNoBackend = -200,       // no adapter of that type on that port
  kTmexErrInvalidSession = -201,  // the session handle is unknown, ended or replaced
  kTmexErrNotSetUp = -202,        // TMSetup not done, or it failed
  kTmexErrBadArgument = -203,     // a null buffer, or a byte or level out of range
  // The owserver route's, -300 ..: what owserver answered (its reason follows
  // in the message).
  kOwserverUnreachable = -300,  // owserver does not answer at that address
  kOwserverNoChip = -301,       // owserver does not find the chip on its bus
  kOwserverRefused = -302,      // owserver gave an error for a read or write of the chip
  kOwserverBadAnswer = -303,    // owserver's answer is not what the property holds
  kOwserverQuit = -304,         // the program was told to quit while owserver was asked
};

// TMSetup gives 1 when the adapter is ready, else this.
inline constexpr int16_t kTmexSetupNoAdapter = 3;  // adapter absent or not answering

}  // namespace wx
