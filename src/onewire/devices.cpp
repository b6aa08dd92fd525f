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
  // A fault inside the call leaves lastResult as it was, and the step is
  // judged on that.
  try {
    session_.lastResult = tmex_.TMRom(session_.sessionHandle, session_.stateBuffer.data(),
                                      session_.romBuffer.data());
  } catch (...) {
  }
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
  Send(r, 0xBE, 80);  // Read Scratchpad
  std::array<uint8_t, 9> pad{};
  pad[0] = uint8_t(Send(r, 0xFF, 90));
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 92);
  pad[1] = uint8_t(Send(r, 0xFF, 100));
  // The rest of the scratchpad and its CRC: TMAccess succeeds whenever any
  // chip answers the reset, so without the check an absent sensor reads as
  // all ones ($FFFF: -0.5 or -0.0625 C) and is logged as a temperature.
  for (size_t i = 2; i < pad.size(); ++i) pad[i] = uint8_t(Send(r, 0xFF, kScratchpadReadCode));
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
  Send(r, 0xA5, 50);  // Read Memory with Counter
  Send(r, page == 14 ? 0xC0 : 0xE0, 60);
  Send(r, 0x01, 70);
  // The page's data: read and dropped, whatever happened before.
  for (int i = 0; i < 32; ++i) tmex_.TMTouchByte(h, 0xFF);
  if (Ok(r)) {
    int b0 = tmex_.TMTouchByte(h, 0xFF);
    int b1 = tmex_.TMTouchByte(h, 0xFF);
    int b2 = tmex_.TMTouchByte(h, 0xFF);
    if (b0 < 0 || b1 < 0 || b2 < 0) {
      // A failed exchange gives no count rather than a mix of error numbers.
      Fail(r, 120, b0 < 0 ? b0 : (b1 < 0 ? b1 : b2));
    } else {
      r.count = b0 + b1 * 256 + b2 * 65536;
      if (session_.lastResult != 1) Fail(r, 120, session_.lastResult);
    }
    if (Ok(r)) {
      int b3 = tmex_.TMTouchByte(h, 0xFF);
      if (b3 < 0) {
        Fail(r, 120, b3);
        r.count = 0;
      } else {
        r.count += (b3 & 0x7F) * 16777216;
      }
    }
  }
  EndIfOk(r);
  if (!Ok(r)) ReportDeviceError("Problem with DMLGetCount ", r.stepCode, r.tmexCode);
  return r;
}

VadResult Devices::DMLGetVAD(int slot) {
  VadResult r;
  Prologue(slot, kPrologueCodes, r);
  auto command = [&](std::initializer_list<uint8_t> bytes, uint8_t code) {
    Reselect(slot, 30, 32, 40, r);
    for (uint8_t b : bytes) Send(r, b, code);
  };
  command({0x4E, 0x00, 0x00}, 60);  // Write Scratchpad page 0: VAD input, nothing else on
  command({0x44}, 50);              // Convert T
  command({0xB4}, 60);              // Convert V
  command({0xB8, 0x00}, 70);        // Recall Memory page 0
  command({0xBE, 0x00}, 70);        // Read Scratchpad page 0
  std::array<int, 9> bytes{};
  for (int& b : bytes) b = Send(r, 0xFF, 70);
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
  // Write Memory at $0008: the control/status pair of every input.
  Send(r, 0x55, 60);
  Send(r, 0x08, 70);
  Send(r, 0x00, 80);
  static constexpr uint8_t kPairCodes[4][8] = {
      {90, 100, 106, 110, 120, 130, 136, 140},
      {150, 155, 160, 165, 170, 175, 180, 185},
      {190, 195, 200, 205, 210, 215, 220, 225},
      {230, 232, 234, 236, 238, 240, 242, 244},
  };
  for (const auto& c : kPairCodes) {
    // $08: 8-bit resolution, output off; $01: 5.12 V range, alarms off, POR cleared.
    Send(r, 0x08, c[0]);
    for (int i = 1; i <= 3; ++i) Send(r, 0xFF, c[i]);  // CRC16 pair and read-back
    Send(r, 0x01, c[4]);
    for (int i = 5; i <= 7; ++i) Send(r, 0xFF, c[i]);
  }
  ExpectPresence(r, 10);
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(session_.sessionHandle), 12);
  if (Ok(r)) Expect1(r, tmex_.TMStrongAccess(session_.sessionHandle, session_.stateBuffer.data()), 20);
  // $40 at $001C: the chip is powered from VCC.
  Send(r, 0x55, 22);
  Send(r, 0x1C, 24);
  Send(r, 0x00, 26);
  Send(r, 0x40, 28);
  Send(r, 0xFF, 30);
  Send(r, 0xFF, 32);
  Send(r, 0xFF, 34);
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
  Send(r, 0x3C, 50);  // Convert
  Send(r, 0x0F, 60);  // all four inputs
  if (Ok(r)) session_.lastResult = tmex_.TMTouchByte(h, 0x00);  // no preset; not checked
  Send(r, 0xFF, 90);  // CRC16
  Send(r, 0xFF, 100);
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
  Send(r, 0xAA, 160);  // Read Memory at $0000
  Send(r, 0x00, 170);
  Send(r, 0x00, 180);
  std::array<int, 8> bytes{};
  for (int& b : bytes) {
    b = tmex_.TMTouchByte(h, 0xFF);  // made whatever the failure state
    if (b < 0) b = 0;
  }
  for (int i = 0; i < 4; ++i) r.input[i] = uint16_t(bytes[2 * i + 1] * 256 + bytes[2 * i]);
  Send(r, 0xFF, 250);
  Send(r, 0xFF, 252);
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

void Devices::ReportDeviceError(const std::string& prefix, uint8_t stepCode, int32_t tmexCode) {
  if (cycleCount_ < 32) ui_.ShowMessage(kDeviceHint);
  errors_.ShowError(prefix + std::to_string(stepCode) + " and Dallas error " + std::to_string(tmexCode));
}

void Devices::InitDevices() {
  if (!station_.sensorEnabled[10]) return;
  DeviceResult r = DMLInit2450ADC(10);
  if (r.stepCode != 0) {
    errors_.ShowError(std::to_string(r.stepCode) + " <PGM error during DMLInit2540ADC. Dallas err:" +
                      std::to_string(r.tmexCode));
    session_.AdcReady = false;
  }
}

}  // namespace wx
