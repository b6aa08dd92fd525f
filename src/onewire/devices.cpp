// SPDX-License-Identifier: GPL-2.0-or-later
#include "onewire/devices.h"

#include <algorithm>

#include "tmex/crc.h"

namespace wx {

namespace {

constexpr std::array<uint8_t, 5> kPrologueCodes{10, 20, 30, 32, 40};
constexpr std::array<uint8_t, 5> kInitPrologueCodes{40, 42, 44, 46, 50};

void Fail(DeviceResult& r, uint8_t code, int32_t tmexCode) {
  r.stepCode = code;
  r.tmexCode = tmexCode;
}

bool Ok(const DeviceResult& r) { return r.stepCode == 0; }

const char* const kDeviceHint =
    "PGM Error 20 / Dallas Error 3 can arise if adapter type or port spec wrong in WX118ini.txt "
    "(lines h and i). Can also arise if an enabled device (WX118ini.txt) is not present.";

}  // namespace

Devices::Devices(Tmex& tmex, StationConfig& station, const Clock& clock, Ui& ui, ErrorSink& errors,
                 const int32_t& CycleCount)
    : tmex_(tmex), station_(station), clock_(clock), ui_(ui), errors_(errors), cycleCount_(CycleCount) {}

void Devices::LoadRom(int slot) {
  for (int i = 0; i < 8; ++i) session_.romBuffer[i] = int16_t(station_.sensorRom[slot][i]);
}

bool Devices::CallRom() {
  session_.lastResult = tmex_.TMRom(session_.sessionHandle, session_.stateBuffer.data(),
                                    session_.romBuffer.data());
  return session_.lastResult == 1;
}

void Devices::Expect1(DeviceResult& r, int16_t result, uint8_t code) {
  session_.lastResult = result;
  if (result != 1) Fail(r, code, result);
}

void Devices::ExpectPresence(DeviceResult& r, uint8_t code) {
  if (!Ok(r)) return;
  int16_t v = tmex_.TMTouchReset(session_.sessionHandle);
  session_.lastResult = v;
  if (v != 1 && v != 2) Fail(r, code, v);
}

int Devices::Send(DeviceResult& r, uint8_t byte, uint8_t code, bool record) {
  if (!Ok(r)) return -1;
  int16_t v = tmex_.TMTouchByte(session_.sessionHandle, byte);
  if (record) session_.lastResult = v;
  if (v < 0) Fail(r, code, v);
  return v;
}

template <size_t N, typename CodeOf>
bool Devices::SendRun(DeviceResult& r, std::array<uint8_t, N>& run, CodeOf codeOf) {
  if (!Ok(r)) return false;
  int16_t good = 0;
  const int16_t v = tmex_.TMBlockStream(session_.sessionHandle, run.data(), int16_t(N), &good);
  if (v < 0) {
    session_.lastResult = v;
    Fail(r, codeOf(size_t(good)), v);
    return false;
  }
  session_.lastResult = run[N - 1];
  return true;
}

void Devices::EndIfOk(const DeviceResult& r) {
  if (Ok(r)) session_.lastResult = tmex_.TMEndSession(session_.sessionHandle);
}

void Devices::Prologue(int slot, const std::array<uint8_t, 5>& codes, DeviceResult& r) {
  session_.sessionHandle = tmex_.TMExtendedStartSession(int16_t(station_.adapterPort),
                                                        int16_t(station_.adapterType), nullptr);
  if (session_.sessionHandle < 1) {
    Fail(r, codes[0], session_.sessionHandle);
    return;
  }
  Expect1(r, tmex_.TMSetup(session_.sessionHandle), codes[1]);
  if (!Ok(r)) return;
  Reselect(slot, codes[2], codes[3], codes[4], r);
}

void Devices::Reselect(int slot, uint8_t romCode, uint8_t validCode, uint8_t accessCode, DeviceResult& r) {
  if (!Ok(r)) return;
  LoadRom(slot);
  if (!CallRom()) {
    Fail(r, romCode, session_.lastResult);
    return;
  }
  Expect1(r, tmex_.TMValidSession(session_.sessionHandle), validCode);
  if (!Ok(r)) return;
  Expect1(r, tmex_.TMStrongAccess(session_.sessionHandle, session_.stateBuffer.data()), accessCode);
}

TtureBytes Devices::DMLGet1820Tture(int slot) {
  TtureBytes r;
  // Prologue with a plain TMAccess select.
  session_.sessionHandle = tmex_.TMExtendedStartSession(int16_t(station_.adapterPort),
                                                        int16_t(station_.adapterType), nullptr);
  if (session_.sessionHandle < 1) Fail(r, 10, session_.sessionHandle);
  if (Ok(r)) Expect1(r, tmex_.TMSetup(session_.sessionHandle), 20);
  if (Ok(r)) {
    LoadRom(slot);
    if (!CallRom()) Fail(r, 30, session_.lastResult);
  }
  const int32_t h = session_.sessionHandle;
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 32);
  if (Ok(r)) Expect1(r, tmex_.TMAccess(h, session_.stateBuffer.data()), 40);
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 42);
  Send(r, 0x44, 50);  // Convert T
  if (Ok(r)) WaitTicks(1800);
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 52);
  if (Ok(r)) Expect1(r, tmex_.TMAccess(h, session_.stateBuffer.data()), 70);
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 72);
  // Read Scratchpad and the whole scratchpad with its CRC, in one run:
  // TMAccess succeeds whenever any chip answers the reset, so without the
  // check an absent sensor reads as all ones ($FFFF: -0.5 or -0.0625 C) and
  // is logged as a temperature.
  std::array<uint8_t, 10> run;
  run.fill(0xFF);
  run[0] = 0xBE;
  SendRun(r, run, [](size_t i) -> uint8_t {
    return i == 0 ? 80 : i == 1 ? 90 : i == 2 ? 100 : kScratchpadReadCode;
  });
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 92);
  std::array<uint8_t, 9> pad{};
  if (Ok(r)) std::copy(run.begin() + 1, run.end(), pad.begin());
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
  EndIfOk(r);
  return r;
}

CountResult Devices::DMLGetCount(int slot, int page) {
  CountResult r;
  Prologue(slot, kPrologueCodes, r);
  const int32_t h = session_.sessionHandle;
  // Read Memory with Counter at the page, the page's 32 data bytes (read and
  // dropped) and the four counter bytes, in one run. A failed exchange gives
  // no count rather than a mix of error numbers.
  std::array<uint8_t, 39> run;
  run.fill(0xFF);
  run[0] = 0xA5;
  run[1] = page == 14 ? 0xC0 : 0xE0;
  run[2] = 0x01;
  if (Ok(r)) {
    if (SendRun(r, run, [](size_t i) -> uint8_t { return i == 0 ? 50 : i == 1 ? 60 : i == 2 ? 70 : 120; })) {
      session_.lastResult = run[2];  // the read-back of the address byte $01
      r.count = run[35] + run[36] * 256 + run[37] * 65536;
      if (session_.lastResult != 1)
        Fail(r, 120, session_.lastResult);
      else
        r.count += (run[38] & 0x7F) * 16777216;
    }
  } else {
    // The page's data is read whatever happened before.
    for (int i = 0; i < 32; ++i) tmex_.TMTouchByte(h, 0xFF);
  }
  EndIfOk(r);
  if (!Ok(r)) ReportDeviceError("Problem with DMLGetCount ", r.stepCode, r.tmexCode);
  return r;
}

VadResult Devices::DMLGetVAD(int slot) {
  VadResult r;
  Prologue(slot, kPrologueCodes, r);
  auto command = [&](auto run, uint8_t code) {
    Reselect(slot, 30, 32, 40, r);
    SendRun(r, run, [code](size_t) { return code; });
    return run;
  };
  command(std::array<uint8_t, 3>{0x4E, 0x00, 0x00}, 60);  // Write Scratchpad page 0: VAD input, nothing else on
  command(std::array<uint8_t, 1>{0x44}, 50);              // Convert T
  command(std::array<uint8_t, 1>{0xB4}, 60);              // Convert V
  command(std::array<uint8_t, 2>{0xB8, 0x00}, 70);        // Recall Memory page 0
  // Read Scratchpad page 0 and its nine bytes.
  const auto read = command(std::array<uint8_t, 11>{0xBE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                     0xFF, 0xFF, 0xFF},
                            70);
  std::array<int, 9> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = read[2 + i];
  if (Ok(r)) {
    // Page 0 and its CRC8: a corrupted read must not become a voltage.
    std::array<uint8_t, 9> page{};
    for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(bytes[i]);
    if (std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0xFF; }))
      Fail(r, kScratchpadEmptyCode, 0);
    else if (Crc8(page.data(), 8) != page[8])
      Fail(r, kScratchpadCrcCode, 0);
  }
  EndIfOk(r);
  if (Ok(r)) {
    r.voltage = float(bytes[3] + 256 * bytes[4]) / 100.0f;
    r.temperature = DecodeDs2438Temperature(uint8_t(bytes[1]), uint8_t(bytes[2]));
  }
  return r;
}

DeviceResult Devices::DMLInit2450ADC(int slot) {
  DeviceResult r;
  Prologue(slot, kInitPrologueCodes, r);
  // Write Memory at $0008: the control/status pair of every input, each
  // data byte followed by its CRC16 pair and read-back. $08: 8-bit
  // resolution, output off; $01: 5.12 V range, alarms off, POR cleared.
  static constexpr uint8_t kHeadCodes[3] = {60, 70, 80};
  static constexpr uint8_t kPairCodes[4][8] = {
      {90, 100, 106, 110, 120, 130, 136, 140},
      {150, 155, 160, 165, 170, 175, 180, 185},
      {190, 195, 200, 205, 210, 215, 220, 225},
      {230, 232, 234, 236, 238, 240, 242, 244},
  };
  std::array<uint8_t, 35> pairs;
  pairs.fill(0xFF);
  pairs[0] = 0x55;
  pairs[1] = 0x08;
  pairs[2] = 0x00;
  for (int p = 0; p < 4; ++p) {
    pairs[3 + 8 * p] = 0x08;
    pairs[7 + 8 * p] = 0x01;
  }
  SendRun(r, pairs, [](size_t i) { return i < 3 ? kHeadCodes[i] : kPairCodes[(i - 3) / 8][(i - 3) % 8]; });
  ExpectPresence(r, 10);
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(session_.sessionHandle), 12);
  if (Ok(r)) Expect1(r, tmex_.TMStrongAccess(session_.sessionHandle, session_.stateBuffer.data()), 20);
  // $40 at $001C: the chip is powered from VCC.
  std::array<uint8_t, 7> power{0x55, 0x1C, 0x00, 0x40, 0xFF, 0xFF, 0xFF};
  SendRun(r, power, [](size_t i) { return uint8_t(22 + 2 * i); });
  ExpectPresence(r, 36);
  if (Ok(r)) Expect1(r, tmex_.TMEndSession(session_.sessionHandle), 38);
  session_.AdcReady = Ok(r);
  if (!Ok(r)) ReportDeviceError("Problem with DML2450Init ", r.stepCode, r.tmexCode);
  return r;
}

AdcResult Devices::DMLGet2540ADC(int slot) {
  AdcResult r;
  if (!session_.AdcReady) {
    errors_.ShowError("DMLInit2450ADC must be done before DMLGet2540ADC can be called");
    r.stepCode = 10;
    std::string line(1, char('k' + slot));
    ui_.ShowMessage(
        "DMLInit2450ADC failed to execute properly\r"
        "To prevent further error messages, the sensor specified in\r"
        "line " + line + " of your WX118ini.txt file\r"
        "has been turned off. THIS ERROR MAY HAVE ARISEN\r"
        "DUE TO WRONG NUMBERS IN YOUR INIT FILE IN LINES H OR I: THE\r"
        "PORT AND ADAPTER TYPE SPECS.");
    station_.sensorEnabled[slot] = false;
  } else {
    Prologue(slot, kPrologueCodes, r);
  }
  const int32_t h = session_.sessionHandle;
  // Convert, all four inputs, no preset (its read-back not checked), CRC16.
  std::array<uint8_t, 5> convert{0x3C, 0x0F, 0x00, 0xFF, 0xFF};
  SendRun(r, convert, [](size_t i) { return i == 0 ? 50 : i == 1 ? 60 : i == 4 ? 100 : 90; });
  if (Ok(r)) {
    int16_t v = tmex_.TMOneWireLevel(h, 0, 1, 2);
    session_.lastResult = v;
    if (v < 0) Fail(r, 80, v);
  }
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 82);
  WaitTicks(55);  // made whatever the failure state
  if (Ok(r)) {
    int16_t v = tmex_.TMOneWireLevel(h, 0, 0, 0);
    session_.lastResult = v;
    if (v < 0) Fail(r, 110, v);
  }
  if (Ok(r)) {
    // The line reads 255 once the conversion is done.
    int b = tmex_.TMTouchByte(h, 0xFF);
    int further = 0;
    while (b != 255 && further < 1000 && !ui_.TerminateRequested()) {
      ui_.ProcessMessages();
      b = tmex_.TMTouchByte(h, 0xFF);
      ++further;
    }
    if (further >= 1000) Fail(r, 120, 0);
  }
  ExpectPresence(r, 140);
  if (Ok(r)) Expect1(r, tmex_.TMStrongAccess(h, session_.stateBuffer.data()), 150);
  // Read Memory at $0000: the eight result bytes and the CRC16 pair.
  std::array<int, 8> bytes{};
  if (Ok(r)) {
    std::array<uint8_t, 13> read;
    read.fill(0xFF);
    read[0] = 0xAA;
    read[1] = read[2] = 0x00;
    int16_t good = 0;
    const int16_t v = tmex_.TMBlockStream(h, read.data(), int16_t(read.size()), &good);
    for (size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = v >= 0 || int(3 + i) < good ? read[3 + i] : 0;  // a failed read counts as 0
    if (v < 0) {
      session_.lastResult = v;
      Fail(r, good == 0 ? 160 : good == 1 ? 170 : good == 2 ? 180 : good == 12 ? 252 : 250, v);
    } else {
      session_.lastResult = read[12];
    }
  } else {
    for (int& b : bytes) {
      b = tmex_.TMTouchByte(h, 0xFF);  // made whatever the failure state
      if (b < 0) b = 0;
    }
  }
  for (int i = 0; i < 4; ++i) r.input[i] = uint16_t(bytes[2 * i + 1] * 256 + bytes[2 * i]);
  if (Ok(r)) {
    int16_t v = tmex_.TMTouchReset(h);
    session_.lastResult = v;
    if (v < 0) Fail(r, 190, v);
  }
  if (Ok(r)) {
    int16_t v = tmex_.TMEndSession(h);
    session_.lastResult = v;
    if (v < 0) Fail(r, 194, v);
  }
  return r;
}

void Devices::WaitTicks(uint32_t ms) {
  // Elapsed time, not a deadline: a deadline past 2^32 would wrap and be
  // "passed" by the first reading, or wait for the counter to come round.
  const uint32_t start = clock_.GetTickCount();
  uint32_t elapsed = 0;
  for (;;) {
    ui_.WaitMessages(ms - elapsed + 1);
    elapsed = uint32_t(clock_.GetTickCount() - start);
    if (elapsed > ms || ui_.TerminateRequested()) return;
  }
}

std::string Devices::AdapterFault() {
  // The adapter of the session that failed says which device and why.
  const BusBackend* b = tmex_.BackendOf(session_.sessionHandle);
  const std::string why = b ? b->LastError() : std::string();
  return why.empty() ? why : " (" + why + ")";
}

void Devices::ReportDeviceError(const std::string& prefix, uint8_t stepCode, int32_t tmexCode) {
  if (cycleCount_ < 32) ui_.ShowMessage(kDeviceHint);
  errors_.ShowError(prefix + std::to_string(stepCode) + " and Dallas error " + std::to_string(tmexCode) +
                    AdapterFault());
}

void Devices::InitDevices() {
  if (!station_.sensorEnabled[10]) return;
  DeviceResult r = DMLInit2450ADC(10);
  if (r.stepCode != 0) {
    errors_.ShowError(std::to_string(r.stepCode) + " <PGM error during DMLInit2540ADC. Dallas err:" +
                      std::to_string(r.tmexCode) + AdapterFault());
    session_.AdcReady = false;
  }
}

}  // namespace wx
