// SPDX-License-Identifier: GPL-2.0-or-later
// Stand-in for the adapter vendor's 1-Wire library: the ten calls the device
// layer uses, with the results it relies on (handle >= 1 from a started
// session; 1 from TMSetup, TMRom, TMValidSession, TMAccess, TMStrongAccess and
// TMEndSession on success; 1 or 2 from TMTouchReset with a device present;
// TMTouchByte the byte read or a negative error; TMOneWireLevel >= 0 on
// success). Negative results are the error numbers of tmex_errors.h, one
// meaning each whatever the adapter: adapter faults -1..-99 passed through
// from the backend, session faults -200.. added here.
//
// Sessions: a handle is valid from TMExtendedStartSession until TMEndSession
// or until a new session is started on the same port, which ends the old one
// (a caller that gave up after a failed step never ends its session, and
// that must not lock the port). Handles are never reused, so a stale handle
// keeps failing. An adapter that can stay open between sessions
// (BusBackend::KeptOpen) is kept for the next session on its port and type;
// one that failed is dropped, and the next session asks the factory again.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "tmex/bus_backend.h"

namespace wx {

// Makes the backend for an adapter port and type; nullptr when there is none
// (the session then fails to start).
using BackendFactory = std::function<std::unique_ptr<BusBackend>(int port, int type)>;

class Tmex {
 public:
  explicit Tmex(BackendFactory factory);
  ~Tmex();

  int32_t TMExtendedStartSession(int16_t portNum, int16_t portType, void* sessionOptions);
  // Opens the adapter: 1, kTmexSetupNoAdapter when it does not answer,
  // kTmexErrInvalidSession for an unknown handle.
  int16_t TMSetup(int32_t session);
  // Sets the ROM code of the state buffer from romBuffer (8 words, byte 0 =
  // family code) when romBuffer[0] is not 0, else reads it back into romBuffer.
  int16_t TMRom(int32_t session, void* stateBuffer, int16_t* romBuffer);
  // 1 while the handle is the live session of its port, else 0.
  int16_t TMValidSession(int32_t session);
  // Reset, Match ROM and the ROM of the state buffer. 0 when nobody answered
  // the reset.
  int16_t TMAccess(int32_t session, void* stateBuffer);
  // Searches the line for exactly that ROM, then as TMAccess; 0 when the chip
  // is not on the line.
  int16_t TMStrongAccess(int32_t session, void* stateBuffer);
  // 1 presence, 2 alarming presence, 0 none, negative on a fault. Drops a
  // strong pull-up first.
  int16_t TMTouchReset(int32_t session);
  int16_t TMTouchByte(int32_t session, int16_t byte);
  // Sends count bytes of buffer (0xFF reads one) in one exchange where the
  // adapter can, and puts the bytes read back in their place: count, or a
  // negative error, with *good (when given) the number of bytes exchanged
  // cleanly before it.
  int16_t TMBlockStream(int32_t session, uint8_t* buffer, int16_t count, int16_t* good = nullptr);
  // operation 0 = set, 1 = read; level 0 normal, 1 strong pull-up;
  // prime 0 = now, 2 = on the next byte (the pull-up then starts right
  // after the next TMTouchByte). Returns the level set (or read).
  int16_t TMOneWireLevel(int32_t session, int16_t operation, int16_t levelMode, int16_t primed);
  int16_t TMEndSession(int32_t session);

  // The backend of a live session (nullptr otherwise), for tests and tools.
  BusBackend* BackendOf(int32_t session);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wx
