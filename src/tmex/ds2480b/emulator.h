// SPDX-License-Identifier: GPL-2.0-or-later
// A DS2480B line driver as a byte-stream state machine: host bytes in,
// response bytes out, 1-Wire activity on a SlotBus behind it.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "tmex/sim/slot_bus.h"

namespace wx {

class Ds2480bEmulator {
 public:
  explicit Ds2480bEmulator(SlotBus& bus);
  // Power-up state: command mode, defaults, next byte only calibrates.
  void MasterReset();
  // One host byte; response bytes (if any) are appended to out.
  void Feed(uint8_t byte, std::vector<uint8_t>& out);
  // The host flushed its port. Hosts do that right after sending a break,
  // which a pseudo-terminal cannot carry: a C1 that comes next (past any
  // E3/F1 mode-leaving bytes) is then taken as the calibration byte of a
  // master reset rather than as a 1-Wire reset. A pseudo-terminal flush
  // also drops bytes the emulator has not read yet (a real port would have
  // sent them), so a reset command next is taken as one even in data mode
  // or with the search accelerator on (the unanswered E3 A5 were lost).
  void LineFlushed() { flushed_ = true; }
  // Whether a flush reported just after these bytes must have come before
  // them: they start as only a master's first bytes after a flush do (a C1,
  // or a reset while data mode or the search accelerator is still on).
  bool StartsAfterFlush(const std::vector<uint8_t>& bytes) const;
  int masterResets() const { return masterResets_; }
  bool InDataMode() const { return mode_ != Mode::Command; }
  bool PullupActive() const { return pulse_; }
  uint8_t Config(int param) const { return config_[param & 7]; }

 private:
  enum class Mode { Command, Data, DataEscape };
  void Command(uint8_t c, std::vector<uint8_t>& out);
  void Data(uint8_t b, std::vector<uint8_t>& out);
  void EndPulse(std::vector<uint8_t>& out);

  SlotBus& bus_;
  Mode mode_ = Mode::Command;
  bool calibrated_ = false;
  bool searchOn_ = false;
  bool pulse_ = false;
  bool flushed_ = false;
  int masterResets_ = 0;
  std::array<uint8_t, 8> config_{};
};

}  // namespace wx
