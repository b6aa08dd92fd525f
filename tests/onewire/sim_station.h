// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated station for the device and reader tests: chips of each kind on
// the simulated 1-Wire network, reached through the Tmex stand-in, with the
// faults the tests need (no adapter, absent chip, stuck conversion, bit
// errors, a chip that falls silent).
#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "tmex/tmex.h"

namespace wx::test {

class SimStation {
 public:
  using Rom = std::array<uint8_t, 8>;

  explicit SimStation(const Clock& clock);
  ~SimStation();

  // For Tmex: every port and type reach the network unless the adapter is absent.
  BackendFactory Factory();
  void SetAdapterAbsent(bool absent);

  Rom AddDs18S20(double celsius);
  Rom AddDs18B20(double celsius);
  Rom AddDs2438(double celsius, double volts);
  Rom AddDs2423(uint32_t page14, uint32_t page15);
  Rom AddDs2450(std::array<uint16_t, 4> inputs);

  void SetTemperature(const Rom& rom, double celsius);
  void SetVoltage(const Rom& rom, double volts);
  void SetCounter(const Rom& rom, int page, uint32_t value);
  void SetInputs(const Rom& rom, std::array<uint16_t, 4> inputs);
  void SetStuckConversion(const Rom& rom, bool stuck);
  // Every data bit the chip sends is inverted with this probability (1 = all).
  void SetBitErrors(const Rom& rom, double rate, uint32_t seed = 1);
  // The chip answers n more accesses of its own, then falls silent.
  void StopAfterAccesses(const Rom& rom, int n);
  void Remove(const Rom& rom);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wx::test
