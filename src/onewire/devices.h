// SPDX-License-Identifier: GPL-2.0-or-later
// The chip-level command sequences of the 1-Wire station: every routine opens
// its own TMEX session, selects one chip by its ROM code, exchanges bytes and
// ends the session (left open after a failure). Failures come back as a step
// code (0 = success, else the number of the step that failed) and the TMEX
// result of that step.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "onewire/decoding.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/ui.h"
#include "tmex/tmex.h"

namespace wx {

constexpr size_t kStateBufferSize = 15360;

struct DeviceSession {
  int32_t sessionHandle = 0;
  int32_t lastResult = 0;
  std::array<uint8_t, kStateBufferSize> stateBuffer{};
  std::array<int16_t, 8> romBuffer{};
  bool AdcReady = false;
};

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

struct TtureBytes : DeviceResult {
  uint8_t lsb = 0, msb = 0;
};

struct CountResult : DeviceResult {
  int32_t count = 0;
};

struct VadResult : DeviceResult {
  float voltage = 999.0f;
  float temperature = 999.0f;
};

struct AdcResult : DeviceResult {
  std::array<uint16_t, 4> input{};  // A, B, C, D
};

class Devices {
 public:
  Devices(Tmex& tmex, StationConfig& station, const Clock& clock, Ui& ui, ErrorSink& errors,
          const int32_t& CycleCount);

  // Reads the whole scratchpad and gives its first two bytes once its CRC8
  // checks out.
  TtureBytes DMLGet1820Tture(int slot);
  // Reports its own failures ("Problem with DMLGetCount ").
  CountResult DMLGetCount(int slot, int page);
  VadResult DMLGetVAD(int slot);
  // Reports its own failure; sets AdcReady on success.
  DeviceResult DMLInit2450ADC(int slot);
  AdcResult DMLGet2540ADC(int slot);

  // Waits until more than ms milliseconds have passed, handling window
  // messages meanwhile (asleep between them). Ends early once the program
  // was told to quit: nothing read after that is kept.
  void WaitTicks(uint32_t ms);
  // The report names the adapter's device and the system's reason after
  // the step and Dallas codes, when the adapter knows them.
  void ReportDeviceError(const std::string& prefix, uint8_t stepCode, int32_t tmexCode);
  // The device part of the start-up: the DS2450 set-up when slot 10 is enabled.
  void InitDevices();

  DeviceSession& session() { return session_; }
  const DeviceSession& session() const { return session_; }

 private:
  // The common prologue (session, set-up, ROM, valid session, select).
  // codes = the five failure codes; the select is TMStrongAccess.
  void Prologue(int slot, const std::array<uint8_t, 5>& codes, DeviceResult& r);
  // ROM, valid session and strong access with the given codes.
  void Reselect(int slot, uint8_t romCode, uint8_t validCode, uint8_t accessCode, DeviceResult& r);
  void LoadRom(int slot);
  bool CallRom();
  // Sends a byte while no failure is recorded; a negative result fails with code.
  int Send(DeviceResult& r, uint8_t byte, uint8_t code, bool record = true);
  // Sends a run of bytes in one call while no failure is recorded (the
  // bytes read back replace them); a fault fails with codeOf(index of the
  // byte it hit). Records the last byte read back, as Send does.
  template <size_t N, typename CodeOf>
  bool SendRun(DeviceResult& r, std::array<uint8_t, N>& run, CodeOf codeOf);
  // A TMEX call whose result must be 1.
  void Expect1(DeviceResult& r, int16_t result, uint8_t code);
  void ExpectPresence(DeviceResult& r, uint8_t code);
  void EndIfOk(const DeviceResult& r);
  // " (device: reason)" of the last adapter fault, or nothing.
  std::string AdapterFault();

  Tmex& tmex_;
  StationConfig& station_;
  const Clock& clock_;
  Ui& ui_;
  ErrorSink& errors_;
  const int32_t& cycleCount_;
  DeviceSession session_;
};

}  // namespace wx
