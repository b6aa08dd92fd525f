// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/sim/sim_chip.h"

#include <cstdio>

#include "tmex/crc.h"

namespace wx {

RomCode MakeRom(uint8_t family, uint64_t serial) {
  RomCode r{};
  r[0] = family;
  for (int i = 0; i < 6; ++i) r[1 + i] = static_cast<uint8_t>(serial >> (8 * i));
  r[7] = Crc8(r.data(), 7);
  return r;
}

std::string RomToText(const RomCode& rom) {
  std::string s;
  char buf[3];
  for (int i = 7; i >= 0; --i) {
    std::snprintf(buf, sizeof buf, "%02X", rom[i]);
    s += buf;
  }
  return s;
}

bool RomCrcValid(const RomCode& rom) { return Crc8(rom.data(), 7) == rom[7]; }

SimChip::SimChip(const RomCode& rom) : rom_(rom) {}

void SimChip::SetBitErrors(double rate, uint32_t seed) {
  errorRate_ = rate;
  rng_.seed(seed);
}

bool SimChip::Reset(SimTimeUs now) {
  if (!Answering()) {
    rom_state_ = RomState::kIdle;
    return false;
  }
  if (stopAfter_ >= 0 && accesses_ >= stopAfter_) {
    stopped_ = true;
    rom_state_ = RomState::kIdle;
    return false;
  }
  ++resets_;
  Update(now);
  FunctionReset();
  rom_state_ = RomState::kCommand;
  bitIndex_ = 0;
  rx_ = 0;
  fn_ = FnState::kOnes;
  return true;
}

bool SimChip::Drive(SimTimeUs now) {
  switch (rom_state_) {
    case RomState::kRead:
      return RomBit(bitIndex_);
    case RomState::kSearch:
      if (searchPhase_ == 0) return RomBit(bitIndex_);
      if (searchPhase_ == 1) return !RomBit(bitIndex_);
      return true;
    case RomState::kFunction:
      break;
    default:
      return true;
  }
  switch (fn_) {
    case FnState::kTransmit: {
      bool bit = (tx_[txPos_] >> txBit_) & 1;
      if (errorRate_ > 0 && std::uniform_real_distribution<double>(0, 1)(rng_) < errorRate_) bit = !bit;
      return bit;
    }
    case FnState::kBusy:
      return now >= busyEnd_;
    default:
      return true;
  }
}

void SimChip::Sample(bool line, SimTimeUs now) {
  switch (rom_state_) {
    case RomState::kIdle:
      return;
    case RomState::kCommand:
      if (line) rx_ |= static_cast<uint8_t>(1u << bitIndex_);
      if (++bitIndex_ < 8) return;
      bitIndex_ = 0;
      switch (rx_) {
        case 0x33: rom_state_ = RomState::kRead; break;
        case 0x55: rom_state_ = RomState::kMatch; break;
        case 0xCC: EnterFunction(); break;
        case 0xF0: rom_state_ = RomState::kSearch; searchPhase_ = 0; break;
        default: rom_state_ = RomState::kIdle; break;  // incl. alarm search: no alarms here
      }
      rx_ = 0;
      return;
    case RomState::kMatch:
      if (line != RomBit(bitIndex_)) {
        rom_state_ = RomState::kIdle;
        return;
      }
      if (++bitIndex_ == 64) EnterFunction();
      return;
    case RomState::kRead:
      if (++bitIndex_ == 64) EnterFunction();
      return;
    case RomState::kSearch:
      if (searchPhase_ < 2) {
        ++searchPhase_;
        return;
      }
      searchPhase_ = 0;
      if (line != RomBit(bitIndex_)) {
        rom_state_ = RomState::kIdle;
        return;
      }
      if (++bitIndex_ == 64) EnterFunction();
      return;
    case RomState::kFunction:
      break;
  }
  switch (fn_) {
    case FnState::kReceive:
      if (line) rx_ |= static_cast<uint8_t>(1u << bitIndex_);
      if (++bitIndex_ == 8) {
        const uint8_t b = rx_;
        bitIndex_ = 0;
        rx_ = 0;
        OnFunctionByte(b, now);
      }
      return;
    case FnState::kTransmit:
      if (++txBit_ == 8) {
        txBit_ = 0;
        if (++txPos_ == tx_.size()) OnTransmitDone(now);
      }
      return;
    default:
      return;
  }
}

void SimChip::EnterFunction() {
  ++accesses_;
  rom_state_ = RomState::kFunction;
  Receive();
}

void SimChip::Transmit(std::vector<uint8_t> bytes) {
  if (bytes.empty()) {
    SendOnes();
    return;
  }
  tx_ = std::move(bytes);
  txPos_ = 0;
  txBit_ = 0;
  fn_ = FnState::kTransmit;
}

void SimChip::Receive() {
  fn_ = FnState::kReceive;
  bitIndex_ = 0;
  rx_ = 0;
}

void SimChip::BusyUntil(SimTimeUs end) {
  busyEnd_ = end;
  fn_ = FnState::kBusy;
}

void SimChip::SendOnes() { fn_ = FnState::kOnes; }

}  // namespace wx
