// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/ds2480b/emulator.h"

namespace wx {
namespace {
constexpr uint8_t kDefaults[8] = {0, 0, 4, 4, 0, 0, 4, 0};
constexpr uint8_t kSpudInfinite = 7;
constexpr uint8_t kRevision = 3 << 2;  // DS2480B
}  // namespace

Ds2480bEmulator::Ds2480bEmulator(SlotBus& bus) : bus_(bus) {
  MasterReset();
  masterResets_ = 0;  // power-up is not counted
}

void Ds2480bEmulator::MasterReset() {
  ++masterResets_;
  flushed_ = false;
  mode_ = Mode::Command;
  calibrated_ = false;
  searchOn_ = false;
  if (pulse_) bus_.SetStrongPullup(false);
  pulse_ = false;
  for (int i = 0; i < 8; ++i) config_[i] = kDefaults[i];
}

void Ds2480bEmulator::EndPulse(std::vector<uint8_t>& out) {
  if (!pulse_) return;
  pulse_ = false;
  bus_.SetStrongPullup(false);
  out.push_back(0xEC);
}

bool Ds2480bEmulator::StartsAfterFlush(const std::vector<uint8_t>& bytes) const {
  for (uint8_t b : bytes) {
    if (b == 0xE3 || b == 0xF1) continue;
    return b == 0xC1 || ((b & 0xE3) == 0xC1 && (mode_ == Mode::Data || searchOn_));
  }
  return false;
}

void Ds2480bEmulator::Feed(uint8_t b, std::vector<uint8_t>& out) {
  if (flushed_ && b == 0xC1) {
    MasterReset();
    calibrated_ = true;
    return;
  }
  if (flushed_ && (b & 0xE3) == 0xC1 && (mode_ == Mode::Data || searchOn_)) {
    // A reset right after a flush starts a new transaction. Bytes that get
    // no answer (E3, A5) may still have been in the pseudo-terminal when the
    // master flushed it, where a real port would long have sent them: take
    // the reset as a command, with the search accelerator off, as the
    // master meant.
    mode_ = Mode::Command;
    searchOn_ = false;
  }
  if (b != 0xE3 && b != 0xF1) flushed_ = false;
  if (!calibrated_) {
    // The first byte after a master reset only times the baud rate.
    calibrated_ = true;
    return;
  }
  switch (mode_) {
    case Mode::Command:
      Command(b, out);
      break;
    case Mode::Data:
      if (b == 0xE3) {
        mode_ = Mode::DataEscape;
      } else {
        Data(b, out);
      }
      break;
    case Mode::DataEscape:
      if (b == 0xE3) {
        mode_ = Mode::Data;
        Data(b, out);
      } else {
        mode_ = Mode::Command;
        Command(b, out);
      }
      break;
  }
}

void Ds2480bEmulator::Data(uint8_t b, std::vector<uint8_t>& out) {
  // Any traffic ends a running pull-up first.
  EndPulse(out);
  uint8_t resp = 0;
  if (searchOn_) {
    bool error = false;
    for (int j = 0; j < 4; ++j) {
      bool dir = (b >> (2 * j + 1)) & 1;
      bool b0 = bus_.Slot(true);
      bool b1 = bus_.Slot(true);
      bool d, take;
      if (!b0 && !b1) {
        d = true;
        take = dir;
      } else if (b0 != b1) {
        d = false;
        take = b0;
      } else {
        d = true;
        take = true;
        error = true;
      }
      if (error) take = true;
      bus_.Slot(take);
      resp |= (d ? 1 : 0) << (2 * j);
      resp |= (take ? 1 : 0) << (2 * j + 1);
    }
  } else {
    for (int i = 0; i < 8; ++i)
      if (bus_.Slot((b >> i) & 1)) resp |= 1 << i;
  }
  out.push_back(resp);
}

void Ds2480bEmulator::Command(uint8_t c, std::vector<uint8_t>& out) {
  if (c == 0xE3) return;  // already in command mode: ignored
  if (c == 0xF1) {
    EndPulse(out);
    return;
  }
  if (c == 0xE1) {
    mode_ = Mode::Data;
    return;
  }
  if (!(c & 0x80)) {
    if (!(c & 1)) return;
    int p = (c >> 4) & 7;
    if (p == 0) {
      out.push_back(static_cast<uint8_t>(config_[(c >> 1) & 7] << 1));
    } else {
      config_[p] = (c >> 1) & 7;
      out.push_back(c & 0xFE);
    }
    return;
  }
  if (!(c & 1)) return;
  EndPulse(out);
  switch (c & 0xE0) {
    case 0x80: {  // single bit
      bool v = (c >> 4) & 1;
      bool r = bus_.Slot(v);
      out.push_back(static_cast<uint8_t>((c & 0xFC) | (r ? 3 : 0)));
      if (c & 2) {
        pulse_ = true;
        bus_.SetStrongPullup(true);
        if (config_[3] != kSpudInfinite) EndPulse(out);
      }
      break;
    }
    case 0xA0:
      searchOn_ = (c & 0x10) != 0;
      break;
    case 0xC0: {
      int p = bus_.ResetPulse();
      uint8_t code = p == 1 ? 1 : p == 2 ? 2 : 3;
      out.push_back(static_cast<uint8_t>(0xC0 | kRevision | code));
      break;
    }
    case 0xE0:
      if ((c & 0x0C) != 0x0C) break;
      if (c & 0x10) {  // 12 V program pulse: no programming voltage here
        out.push_back(0xFC);
      } else {
        pulse_ = true;
        bus_.SetStrongPullup(true);
        if (config_[3] != kSpudInfinite) EndPulse(out);
      }
      break;
  }
}

}  // namespace wx
