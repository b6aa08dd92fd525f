// SPDX-License-Identifier: GPL-2.0-or-later
#include "onewire/devices.h"

#include <algorithm>
#include <cstdio>

#include "onewire/tmex_chip_bus.h"
#include "tmex/crc.h"

namespace wx {

namespace {

void Fail(DeviceResult& r, uint8_t code, int32_t tmexCode) {
  r.stepCode = code;
  r.tmexCode = tmexCode;
}

bool Ok(const DeviceResult& r) { return r.stepCode == 0; }

constexpr uint8_t kDs2438TemperatureBusy = 0x10;
constexpr uint8_t kDs2438VoltageBusy = 0x40;

const char* const kDeviceHint =
    "PGM Error 20 / Dallas Error 3 can arise if adapter type or port spec wrong in WX118ini.txt "
    "(lines h and i). Can also arise if an enabled device (WX118ini.txt) is not present.";

}  // namespace

Devices::Devices(Tmex& tmex, StationConfig& station, const Clock& clock, Ui& ui, ErrorSink& errors,
                 const int32_t& CycleCount)
    : station_(station),
      clock_(clock),
      ui_(ui),
      errors_(errors),
      cycleCount_(CycleCount),
      route_(std::make_unique<TmexChipBus>(tmex, station, clock, ui)) {}

Devices::~Devices() = default;

void Devices::UseRoute(std::unique_ptr<ChipBus> route) { route_ = std::move(route); }

TtureBytes Devices::DMLGet1820Tture(int slot) {
  faultReason_.clear();
  const ScratchpadBytes raw = route_->ReadScratchpad(slot);
  TtureBytes r;
  static_cast<DeviceResult&>(r) = raw;
  // Without the check an absent sensor, while another chip answers the
  // reset, reads as all ones ($FFFF: -0.5 or -0.0625 C) and is logged.
  const auto& pad = raw.pad;
  if (Ok(r)) {
    const bool allSame = std::all_of(pad.begin(), pad.end(), [&](uint8_t b) { return b == pad[0]; });
    if (allSame && (pad[0] == 0xFF || pad[0] == 0x00))
      Fail(r, kScratchpadEmptyCode, 0);  // nobody drove the line (or it is held low)
    else if (Crc8(pad.data(), 8) != pad[8])
      Fail(r, kScratchpadCrcCode, 0);
  }
  if (Ok(r)) {
    r.lsb = pad[0];
    r.msb = pad[1];
  }
  return r;
}

CountResult Devices::DMLGetCount(int slot, int page) {
  faultReason_.clear();
  const CounterBytes raw = route_->ReadCounter(slot, page);
  CountResult r;
  static_cast<DeviceResult&>(r) = raw;
  const auto& c = raw.counter;
  r.count = c[0] + c[1] * 256 + c[2] * 65536;
  // A count whose CRC16 fails is a failed read: on a noisy line a flipped
  // bit would otherwise be logged as a count.
  if (Ok(r) && !raw.crcCovered.empty() &&
      Crc16(raw.crcCovered.data(), raw.crcCovered.size()) != kCrc16Residue) {
    Fail(r, 120, 0);
    faultReason_ = "counter CRC16 mismatch";
  }
  if (Ok(r)) r.count += (c[3] & 0x7F) * 16777216;  // bit 31 is never taken
  if (!Ok(r)) ReportDeviceError("Problem with DMLGetCount ", r.stepCode, r.tmexCode);
  return r;
}

VadResult Devices::DMLGetVAD(int slot) {
  faultReason_.clear();
  const Page0Bytes raw = route_->ReadVadPage(slot);
  VadResult r;
  static_cast<DeviceResult&>(r) = raw;
  const auto& page = raw.page;
  if (Ok(r)) {
    // Page 0 and its CRC8: a corrupted read must not become a voltage.
    if (std::all_of(page.begin(), page.begin() + 8, [](uint8_t b) { return b == 0xFF; }) &&
        (raw.crcChecked || page[8] == 0xFF))
      Fail(r, kScratchpadEmptyCode, 0);
    else if (!raw.crcChecked && Crc8(page.data(), 8) != page[8])
      Fail(r, kScratchpadCrcCode, 0);
  }
  // A conversion still running (its busy bit, TB or ADB, in the status
  // byte) left the registers at their old values, which are no reading.
  if (Ok(r) && (page[0] & (kDs2438TemperatureBusy | kDs2438VoltageBusy)) != 0) {
    Fail(r, 70, 0);
    char status[8];
    std::snprintf(status, sizeof status, "$%02X", page[0]);
    faultReason_ = std::string("the conversion had not finished: status byte ") + status;
  }
  if (Ok(r)) {
    r.voltage = float(page[3] + 256 * page[4]) / 100.0f;
    r.temperature = DecodeDs2438Temperature(page[1], page[2]);
  }
  return r;
}

DeviceResult Devices::DMLInit2450ADC(int slot) {
  faultReason_.clear();
  const DeviceResult r = route_->SetUpAdc(slot);
  session_.AdcReady = Ok(r);
  if (!Ok(r)) ReportDeviceError("Problem with DML2450Init ", r.stepCode, r.tmexCode);
  return r;
}

AdcResult Devices::DMLGet2540ADC(int slot) {
  faultReason_.clear();
  if (!session_.AdcReady) {
    errors_.ShowError("DMLInit2450ADC must be done before DMLGet2540ADC can be called");
    std::string line(1, char('k' + slot));
    ui_.ShowMessage(
        "DMLInit2450ADC failed to execute properly\r"
        "To prevent further error messages, the sensor specified in\r"
        "line " + line + " of your WX118ini.txt file\r"
        "has been turned off. THIS ERROR MAY HAVE ARISEN\r"
        "DUE TO WRONG NUMBERS IN YOUR INIT FILE IN LINES H OR I: THE\r"
        "PORT AND ADAPTER TYPE SPECS.");
    station_.sensorEnabled[slot] = false;
  }
  const AdcBytes raw = route_->ReadAdc(slot, session_.AdcReady);
  AdcResult r;
  static_cast<DeviceResult&>(r) = raw;
  // With 8-bit resolution each result has its conversion in the high byte.
  for (int i = 0; i < 4; ++i) r.input[i] = uint16_t(raw.results[2 * i + 1] * 256 + raw.results[2 * i]);
  return r;
}

std::string Devices::Fault() {
  if (!faultReason_.empty()) return " (" + faultReason_ + ")";
  return route_->LastFault();
}

void Devices::ReportDeviceError(const std::string& prefix, uint8_t stepCode, int32_t tmexCode) {
  if (cycleCount_ < 32) ui_.ShowMessage(kDeviceHint);
  errors_.ShowError(prefix + std::to_string(stepCode) + " and Dallas error " + std::to_string(tmexCode) +
                    Fault());
}

void Devices::InitDevices() {
  if (!station_.sensorEnabled[10]) return;
  DeviceResult r = DMLInit2450ADC(10);
  if (r.stepCode != 0) {
    errors_.ShowError(std::to_string(r.stepCode) + " <PGM error during DMLInit2540ADC. Dallas err:" +
                      std::to_string(r.tmexCode) + Fault());
    session_.AdcReady = false;
  }
}

}  // namespace wx
