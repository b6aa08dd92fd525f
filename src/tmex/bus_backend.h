// SPDX-License-Identifier: GPL-2.0-or-later
// What the TMEX stand-in needs from an adapter: a reset with presence, byte
// and bit exchange, and the strong pull-up. The simulated network and the
// DS2480B serial adapter each implement it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tmex/tmex_errors.h"

namespace wx {

class BusBackend {
 public:
  virtual ~BusBackend() = default;
  // Acquires the adapter (detects and resets it). false when it is absent
  // or does not answer; LastError() then says why.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // The session that used the adapter ended. An adapter that can stay open
  // between sessions leaves the line at its normal level and stays open;
  // the default closes it.
  virtual void Release() { Close(); }
  // Open, detected and in step: the next session may use it as it is, and
  // Open() then costs nothing.
  virtual bool KeptOpen() const { return false; }
  // 1-Wire reset: 1 presence, 2 alarming presence, 0 no presence,
  // negative on an adapter fault.
  virtual int Reset() = 0;
  // Sends a byte (0xFF reads one) and returns the byte seen on the bus
  // (0..255), or a negative value on an adapter fault.
  virtual int TouchByte(uint8_t byte) = 0;
  // Sends one bit; returns the bit read back (0 or 1), negative on a fault.
  virtual int TouchBit(int bit) = 0;
  // Line level: level 0 normal, 1 strong pull-up; primeOnByte arms the
  // strong pull-up to start right after the next byte. Negative on a fault.
  virtual int SetLevel(int level, bool primeOnByte) = 0;
  // Search ROM (F0, sent here) steered along rom, right after a reset with
  // presence: 1 when a chip with exactly these 64 bits took part in the
  // whole search, 0 when none did, negative on an adapter fault. The bus is
  // left at the end of the search; the caller resets before the next
  // command. The default walks the ROM one bit at a time with TouchByte and
  // TouchBit; an adapter that can run the search in one go overrides it.
  virtual int SteeredSearch(const uint8_t rom[8]);
  // Sends len bytes (0xFF reads one) and puts the bytes seen on the bus in
  // their place: len, or negative on an adapter fault, with *good set to
  // the number of bytes exchanged cleanly before it. The default sends them
  // one by one with TouchByte; an adapter that can send a run in one
  // exchange overrides it.
  virtual int TouchBlock(uint8_t* data, size_t len, size_t* good);
  // A reset and, when a chip answered it (1 or 2), the bytes of data as
  // TouchBlock sends them. Returns the reset's result; a fault in the bytes
  // returns it negative. Nobody hears bytes after a reset without
  // presence, so an adapter may send them together with the reset.
  virtual int ResetThenBlock(uint8_t* data, size_t len);
  // A reset and, when a chip answered it, SteeredSearch: 1, 0 (nobody
  // answered the reset, or no such chip) or negative on a fault. An adapter
  // may send the search together with the reset.
  virtual int ResetThenSearch(const uint8_t rom[8]);
  // A readable description of the last adapter fault, e.g. naming the device.
  virtual std::string LastError() const { return {}; }
};

}  // namespace wx
