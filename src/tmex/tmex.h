// Stand-in for the adapter vendor's 1-Wire library: the ten calls the device
// layer uses, with the results it relies on (handle >= 1 from a started
// session; 1 from TMSetup, TMRom, TMValidSession, TMAccess, TMStrongAccess and
// TMEndSession on success; 1 or 2 from TMTouchReset with a device present;
// TMTouchByte the byte read or a negative error; TMOneWireLevel >= 0 on
// success). Negative results are TMEX-style error numbers.
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
  int16_t TMSetup(int32_t session);
  // Sets the ROM code of the state buffer from romBuffer (8 words, byte 0 =
  // family code) when romBuffer[0] is not 0, else reads it back into romBuffer.
  int16_t TMRom(int32_t session, void* stateBuffer, int16_t* romBuffer);
  int16_t TMValidSession(int32_t session);
  // Reset, Match ROM and the ROM of the state buffer.
  int16_t TMAccess(int32_t session, void* stateBuffer);
  // As TMAccess, then checks the device is really there.
  int16_t TMStrongAccess(int32_t session, void* stateBuffer);
  int16_t TMTouchReset(int32_t session);
  int16_t TMTouchByte(int32_t session, int16_t byte);
  // operation 0 = set, 1 = read; level 0 normal, 1 strong pull-up;
  // prime 0 = now, 2 = on the next byte.
  int16_t TMOneWireLevel(int32_t session, int16_t operation, int16_t levelMode, int16_t primed);
  int16_t TMEndSession(int32_t session);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wx
