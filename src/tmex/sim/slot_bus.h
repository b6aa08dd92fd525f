// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated 1-Wire line at time-slot level: what a master (the TMEX
// stand-in directly, or the DS2480B emulator) does to the wire.
#pragma once

namespace wx {

class SlotBus {
 public:
  virtual ~SlotBus() = default;
  // Reset pulse; 1 presence, 2 alarming presence (some chip in an alarm
  // state answering), 0 nobody answered.
  virtual int ResetPulse() = 0;
  // One time slot: the master writes masterBit (a read is a write of 1) and
  // gets what the line held: the AND of masterBit and every chip's output.
  virtual bool Slot(bool masterBit) = 0;
  // Strong pull-up on or off (power for parasite-powered conversions).
  virtual void SetStrongPullup(bool on) = 0;
};

}  // namespace wx
