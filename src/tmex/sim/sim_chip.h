// SPDX-License-Identifier: GPL-2.0-or-later
// One simulated 1-Wire slave at time-slot level. The base class runs the ROM
// layer (Read, Match, Skip and Search ROM) bit by bit and hands the function
// layer whole received bytes; a chip answers by queueing bytes to send,
// going busy (read slots 0 until a time, then 1) or sending 1s.
#pragma once
#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace wx {

// 8 bytes in transmission order: byte 0 family code, 1-6 serial, 7 CRC8.
using RomCode = std::array<uint8_t, 8>;

// Builds a ROM from family and 48-bit serial, with its CRC.
RomCode MakeRom(uint8_t family, uint64_t serial);
// The 16 hex digits as the primary configuration file writes them: CRC byte
// first, family code last.
std::string RomToText(const RomCode& rom);
bool RomCrcValid(const RomCode& rom);

// Simulation time in microseconds since the network started.
using SimTimeUs = uint64_t;
inline constexpr SimTimeUs kNever = std::numeric_limits<SimTimeUs>::max();

class SimChip {
 public:
  explicit SimChip(const RomCode& rom);
  virtual ~SimChip() = default;
  SimChip(const SimChip&) = delete;
  SimChip& operator=(const SimChip&) = delete;

  const RomCode& rom() const { return rom_; }
  uint8_t family() const { return rom_[0]; }
  virtual const char* kind() const = 0;
  // A label for messages and station files (may be empty).
  const std::string& name() const { return name_; }
  void set_name(std::string n) { name_ = std::move(n); }

  // Faults.
  void SetAbsent(bool absent) { absent_ = absent; }
  // Is selected n times (Match, Skip or Read ROM, or a completed Search ROM),
  // then stays silent from the next reset on; negative = never stops. Only
  // the chip's own accesses count: resets for other chips on the line do not.
  void StopAfterAccesses(int n) { stopAfter_ = n; }
  // Conversions started from now on never finish.
  void SetStuckConversion(bool stuck) { stuck_ = stuck; }
  // Each data bit the chip sends is inverted with this probability.
  void SetBitErrors(double rate, uint32_t seed);
  bool Answering() const { return !absent_ && !stopped_; }
  // Takes part in the time slots: a chip left out by the ROM layer drives 1
  // and listens to nothing until the next reset.
  bool InSlots() const { return Answering() && rom_state_ != RomState::kIdle; }
  int resets() const { return resets_; }
  int accesses() const { return accesses_; }

  // Network side, one call each per reset and per time slot.
  bool Reset(SimTimeUs now);
  bool Drive(SimTimeUs now);
  void Sample(bool line, SimTimeUs now);
  // Completes work (conversions) due by now.
  virtual void Update(SimTimeUs /*now*/) {}

 protected:
  // A reset aborted whatever function command was running.
  virtual void FunctionReset() {}
  virtual void OnFunctionByte(uint8_t b, SimTimeUs now) = 0;
  // The queued bytes have all been sent.
  virtual void OnTransmitDone(SimTimeUs /*now*/) { SendOnes(); }

  void Transmit(std::vector<uint8_t> bytes);
  void Receive();
  void BusyUntil(SimTimeUs end);
  void SendOnes();
  bool stuck() const { return stuck_; }
  // End of a conversion that takes durationUs from now (never when stuck).
  SimTimeUs ConversionEnd(SimTimeUs now, SimTimeUs durationUs) const {
    return stuck_ ? kNever : now + durationUs;
  }
  static double Seconds(SimTimeUs t) { return static_cast<double>(t) / 1e6; }

 private:
  enum class RomState { kIdle, kCommand, kMatch, kRead, kSearch, kFunction };
  enum class FnState { kReceive, kTransmit, kBusy, kOnes };

  void EnterFunction();
  bool RomBit(int i) const { return (rom_[i / 8] >> (i % 8)) & 1; }

  RomCode rom_;
  std::string name_;
  bool absent_ = false;
  bool stopped_ = false;
  bool stuck_ = false;
  int stopAfter_ = -1;
  int resets_ = 0;
  int accesses_ = 0;
  double errorRate_ = 0;
  std::mt19937 rng_{1};

  RomState rom_state_ = RomState::kIdle;
  int bitIndex_ = 0;  // ROM bit, or bit within the byte being received
  int searchPhase_ = 0;
  uint8_t rx_ = 0;

  FnState fn_ = FnState::kOnes;
  std::vector<uint8_t> tx_;
  size_t txPos_ = 0;
  int txBit_ = 0;
  SimTimeUs busyEnd_ = 0;
};

}  // namespace wx
