// SPDX-License-Identifier: GPL-2.0-or-later
// The chip routines' command sequences over the TMEX calls (the simulated
// line or the DS2480B serial adapter): every call opens its own session,
// selects one chip by its ROM code, exchanges bytes and ends the session
// (left open after a failure).
#pragma once
#include <array>
#include <cstdint>

#include "config/settings.h"
#include "onewire/chip_bus.h"
#include "tmex/tmex.h"

namespace wx {

constexpr size_t kStateBufferSize = 15360;

struct TmexSession {
  int32_t sessionHandle = 0;
  int32_t lastResult = 0;
  std::array<uint8_t, kStateBufferSize> stateBuffer{};
  std::array<int16_t, 8> romBuffer{};
};

class TmexChipBus : public ChipBus {
 public:
  TmexChipBus(Tmex& tmex, const StationConfig& station, const Clock& clock, Ui& ui);

  ScratchpadBytes ReadScratchpad(int slot) override;
  CounterBytes ReadCounter(int slot, int page) override;
  Page0Bytes ReadVadPage(int slot) override;
  DeviceResult SetUpAdc(int slot) override;
  AdcBytes ReadAdc(int slot, bool ready) override;
  std::string LastFault() override;

 private:
  // The common prologue (session, set-up, ROM, valid session, select).
  // codes = the five failure codes; the select is TMStrongAccess.
  void Prologue(int slot, const std::array<uint8_t, 5>& codes, DeviceResult& r);
  // ROM, valid session and strong access with the given codes.
  void Reselect(int slot, uint8_t romCode, uint8_t validCode, uint8_t accessCode, DeviceResult& r);
  void LoadRom(int slot);
  bool CallRom();
  // Sends a byte while no failure is recorded; a negative result fails with code.
  void Send(DeviceResult& r, uint8_t byte, uint8_t code);
  // Sends a run of bytes in one call while no failure is recorded (the
  // bytes read back replace them); a fault fails with codeOf(index of the
  // byte it hit). Records the last byte read back.
  template <size_t N, typename CodeOf>
  bool SendRun(DeviceResult& r, std::array<uint8_t, N>& run, CodeOf codeOf);
  // A TMEX call whose result must be 1.
  void Expect1(DeviceResult& r, int16_t result, uint8_t code);
  void ExpectPresence(DeviceResult& r, uint8_t code);
  void EndIfOk(const DeviceResult& r);

  Tmex& tmex_;
  const StationConfig& station_;
  const Clock& clock_;
  Ui& ui_;
  TmexSession session_;
};

}  // namespace wx
