// SPDX-License-Identifier: GPL-2.0-or-later
// The routes to the chips, one call per chip routine, each giving the chip's
// raw bytes: the TMEX command sequences (tmex_chip_bus.h) and owserver
// (owserver_chip_bus.h). Decoding and checking the bytes is the device
// layer's (devices.h), so that every route logs the same values. A failure
// is a step code and a "Dallas error", as the TMEX sequences number them,
// with a reason where the route knows one.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ui.h"

namespace wx {

struct DeviceResult {
  uint8_t stepCode = 0;
  int32_t tmexCode = 0;
};

// Step codes of the scratchpad checks. DS18x20: a failed read of the seven
// bytes after the temperature, a scratchpad that is all $FF or all $00 (no
// chip drove the line), a CRC8 mismatch. DS2438 page 0: all $FF, or a CRC8
// mismatch.
constexpr uint8_t kScratchpadReadCode = 102;
constexpr uint8_t kScratchpadEmptyCode = 104;
constexpr uint8_t kScratchpadCrcCode = 106;

// DS18x20: the nine scratchpad bytes, the last the CRC8 of the others.
struct ScratchpadBytes : DeviceResult {
  std::array<uint8_t, 9> pad{};
};

// DS2423: the counter of a page, least significant byte first, all 32 bits.
struct CounterBytes : DeviceResult {
  std::array<uint8_t, 4> counter{};
  // The exchange from the command to the chip's CRC16 where the route saw
  // it; empty where the route had the CRC16 checked already.
  std::vector<uint8_t> crcCovered;
};

// DS2438: page 0 after a temperature and a VAD conversion; byte 8 is the
// CRC8 of the others unless the route checked it already.
struct Page0Bytes : DeviceResult {
  std::array<uint8_t, 9> page{};
  bool crcChecked = false;
};

// DS2450: the eight result bytes of page 0 after a conversion of all inputs.
struct AdcBytes : DeviceResult {
  std::array<uint8_t, 8> results{};
};

class ChipBus {
 public:
  virtual ~ChipBus() = default;
  virtual ScratchpadBytes ReadScratchpad(int slot) = 0;
  virtual CounterBytes ReadCounter(int slot, int page) = 0;
  virtual Page0Bytes ReadVadPage(int slot) = 0;
  virtual DeviceResult SetUpAdc(int slot) = 0;
  // ready false: the set-up failed, and the route makes only what a failed
  // reading still makes.
  virtual AdcBytes ReadAdc(int slot, bool ready) = 0;
  // " (why)" of the last failure where the route can say, else nothing.
  virtual std::string LastFault() = 0;
};

// Waits until more than ms milliseconds have passed, handling window
// messages meanwhile (asleep between them). Ends early once the program was
// told to quit: nothing read after that is kept.
void WaitTicks(Ui& ui, const Clock& clock, uint32_t ms);

}  // namespace wx
