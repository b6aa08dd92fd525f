// SPDX-License-Identifier: GPL-2.0-or-later
// The five simulated chip types, with the command sets the station uses and
// a little more (write/copy/recall scratchpad, plain memory reads).
// Temperatures in degrees Celsius, voltages in volts, counters in counts.
#pragma once
#include <array>
#include <optional>

#include "tmex/families.h"
#include "tmex/sim/sim_chip.h"
#include "tmex/sim/value_program.h"

namespace wx {

// DS18S20 (family 10) and DS18B20 (family 28): 44 Convert T, BE Read
// Scratchpad, 4E Write Scratchpad, 48 Copy, B8 Recall, B4 Read Power Supply.
// The scratchpad holds the power-on 85 C until the first conversion ends.
class Ds18x20 : public SimChip {
 public:
  explicit Ds18x20(const RomCode& rom);  // family byte decides the type
  const char* kind() const override { return b20_ ? "DS18B20" : "DS18S20"; }
  void SetTemperature(ValueProgram p) { temp_ = std::move(p); }
  std::array<uint8_t, 9> scratchpad() const { return pad_; }
  // Conversion time at the current resolution.
  SimTimeUs ConversionUs() const;
  void Update(SimTimeUs now) override;

 protected:
  void FunctionReset() override { cmd_ = 0; written_ = 0; }
  void OnFunctionByte(uint8_t b, SimTimeUs now) override;

 private:
  void SetRaw(double celsius);
  void Seal() { pad_[8] = 0; }
  bool b20_;
  ValueProgram temp_ = ValueProgram::Constant(20.0);
  std::array<uint8_t, 9> pad_{};
  uint8_t eeTh_ = 0x4B, eeTl_ = 0x46, eeCfg_ = 0x7F;
  uint8_t cmd_ = 0;
  int written_ = 0;
  SimTimeUs convEnd_ = 0;
  bool converting_ = false;
};

// DS2438 (family 26): 4E/BE/48/B8 with a page number, 44 Convert T and
// B4 Convert V (VDD when the AD bit of the status byte is 1, else VAD).
class Ds2438 : public SimChip {
 public:
  explicit Ds2438(const RomCode& rom);
  const char* kind() const override { return "DS2438"; }
  void SetTemperature(ValueProgram p) { temp_ = std::move(p); }
  void SetVad(ValueProgram p) { vad_ = std::move(p); }
  void SetVdd(ValueProgram p) { vdd_ = std::move(p); }
  std::array<uint8_t, 8> memoryPage(int page) const { return mem_[page & 7]; }
  void Update(SimTimeUs now) override;

  static constexpr SimTimeUs kTempConversionUs = 10000;
  static constexpr SimTimeUs kVoltConversionUs = 10000;

 private:
  void FunctionReset() override { cmd_ = 0; havePage_ = false; written_ = 0; }
  void OnFunctionByte(uint8_t b, SimTimeUs now) override;
  uint8_t Status() const;
  ValueProgram temp_ = ValueProgram::Constant(20.0);
  ValueProgram vad_ = ValueProgram::Constant(0.0);
  ValueProgram vdd_ = ValueProgram::Constant(5.0);
  std::array<std::array<uint8_t, 8>, 8> mem_{};
  std::array<std::array<uint8_t, 8>, 8> pad_{};
  uint8_t config_ = 0x0F;  // status bits 0..3 (IAD, CA, EE, AD)
  uint8_t cmd_ = 0;
  bool havePage_ = false;
  int page_ = 0;
  int written_ = 0;
  SimTimeUs tempEnd_ = 0, voltEnd_ = 0;
  bool tempBusy_ = false, voltBusy_ = false, voltVdd_ = false;
};

// DS2423 (family 1D): 512 bytes SRAM; A5 Read Memory with Counter, F0 Read
// Memory. Counter A (page 14) and B (page 15) follow their programs, never
// going down; pages 12 and 13 count 0, pages 0-11 send FFFFFFFF.
class Ds2423 : public SimChip {
 public:
  explicit Ds2423(const RomCode& rom);
  const char* kind() const override { return "DS2423"; }
  void SetCounterA(ValueProgram p) { a_ = std::move(p); }
  void SetCounterB(ValueProgram p) { b_ = std::move(p); }
  void SetMemory(int address, uint8_t v) { mem_[address & 0x1FF] = v; }
  uint32_t Counter(int page, SimTimeUs now);

 private:
  void FunctionReset() override { cmd_ = 0; addrBytes_ = 0; }
  void OnFunctionByte(uint8_t b, SimTimeUs now) override;
  void OnTransmitDone(SimTimeUs now) override;
  std::vector<uint8_t> PageTail(int address, SimTimeUs now);
  ValueProgram a_, b_;
  uint32_t lastA_ = 0, lastB_ = 0;
  std::array<uint8_t, 512> mem_{};
  uint8_t cmd_ = 0;
  int addrBytes_ = 0;
  int address_ = 0;
  int page_ = 0;
};

// DS2450 (family 20): AA Read Memory, 55 Write Memory (with continuation),
// 3C Convert. Inputs A..D follow their own programs (volts), or the wind
// vane program when one is set.
class Ds2450 : public SimChip {
 public:
  explicit Ds2450(const RomCode& rom);
  const char* kind() const override { return "DS2450"; }
  void SetInput(int channel, ValueProgram p) { in_[channel & 3] = std::move(p); }
  // The direction index (0..15, wrapped) follows dir; the four inputs give
  // the code of that index in code table 0..3 (a..d): digit 0 = kVaneLow,
  // 1 = kVaneMid, 2 = kVaneHigh volts.
  void SetVane(ValueProgram dir, int table = 0);
  void ClearVane() { vane_.reset(); }
  double InputVolts(int channel, double seconds) const;
  uint8_t memory(int address) const { return mem_[address & 0x1F]; }
  SimTimeUs ConversionUs(uint8_t mask) const;
  void Update(SimTimeUs now) override;

  // The middle level lies between the monitor's default thresholds (300 and 5500
  // of the 16-bit result, about 0.02 V and 0.43 V at 5.12 V full scale).
  static constexpr double kVaneLow = 0.0, kVaneMid = 0.2, kVaneHigh = 5.0;

 private:
  void FunctionReset() override { cmd_ = 0; args_.clear(); }
  void OnFunctionByte(uint8_t b, SimTimeUs now) override;
  void OnTransmitDone(SimTimeUs now) override;
  void Store(int address, uint8_t v);
  std::vector<uint8_t> PageRead(int address, const std::vector<uint8_t>& prefix) const;
  std::array<ValueProgram, 4> in_;
  std::optional<ValueProgram> vane_;
  int vaneTable_ = 0;
  std::array<uint8_t, 32> mem_{};
  uint8_t cmd_ = 0;
  std::vector<uint8_t> args_;
  int address_ = 0;
  int page_ = 0;
  bool convPending_ = false;
  SimTimeUs convEnd_ = 0;
  uint8_t convMask_ = 0;
};

}  // namespace wx
