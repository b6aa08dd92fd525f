// SPDX-License-Identifier: GPL-2.0-or-later
// The five chip routines of the 1-Wire station over a route to the chips
// (chip_bus.h: the TMEX command sequences, or owserver): the route gives the
// chip's raw bytes, and the routines check and decode them here, the same
// whichever route read them. Failures come back as a step code (0 =
// success, else the number of the step that failed) and the TMEX result of
// that step.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "config/settings.h"
#include "onewire/chip_bus.h"
#include "onewire/decoding.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/ui.h"
#include "tmex/tmex.h"

namespace wx {

struct DeviceSession {
  bool AdcReady = false;
};

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
  // Reads through the TMEX calls until UseRoute gives another route.
  Devices(Tmex& tmex, StationConfig& station, const Clock& clock, Ui& ui, ErrorSink& errors,
          const int32_t& CycleCount);
  ~Devices();

  void UseRoute(std::unique_ptr<ChipBus> route);

  // Reads the whole scratchpad and gives its first two bytes once its CRC8
  // checks out.
  TtureBytes DMLGet1820Tture(int slot);
  // Reports its own failures ("Problem with DMLGetCount ").
  CountResult DMLGetCount(int slot, int page);
  VadResult DMLGetVAD(int slot);
  // Reports its own failure; sets AdcReady on success.
  DeviceResult DMLInit2450ADC(int slot);
  AdcResult DMLGet2540ADC(int slot);

  void WaitTicks(uint32_t ms) { wx::WaitTicks(ui_, clock_, ms); }
  // The report names the adapter's device and the system's reason after
  // the step and Dallas codes, when the route knows them.
  void ReportDeviceError(const std::string& prefix, uint8_t stepCode, int32_t tmexCode);
  // The device part of the start-up: the DS2450 set-up when slot 10 is enabled.
  void InitDevices();

  DeviceSession& session() { return session_; }
  const DeviceSession& session() const { return session_; }

 private:
  // " (why)" of the last failure, or nothing.
  std::string Fault();

  StationConfig& station_;
  const Clock& clock_;
  Ui& ui_;
  ErrorSink& errors_;
  const int32_t& cycleCount_;
  DeviceSession session_;
  std::unique_ptr<ChipBus> route_;
  // Why the last routine failed where the route cannot say (a check of the
  // bytes read); reported after the Dallas error.
  std::string faultReason_;
};

}  // namespace wx
