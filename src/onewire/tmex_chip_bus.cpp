// SPDX-License-Identifier: GPL-2.0-or-later
#include "onewire/tmex_chip_bus.h"

#include <algorithm>

namespace wx {

namespace {

constexpr std::array<uint8_t, 5> kPrologueCodes{10, 20, 30, 32, 40};
constexpr std::array<uint8_t, 5> kInitPrologueCodes{40, 42, 44, 46, 50};

void Fail(DeviceResult& r, uint8_t code, int32_t tmexCode) {
  r.stepCode = code;
  r.tmexCode = tmexCode;
}

bool Ok(const DeviceResult& r) { return r.stepCode == 0; }

}  // namespace

void WaitTicks(Ui& ui, const Clock& clock, uint32_t ms) {
  // Elapsed time, not a deadline: a deadline past 2^32 would wrap and be
  // "passed" by the first reading, or wait for the counter to come round.
  const uint32_t start = clock.GetTickCount();
  uint32_t elapsed = 0;
  for (;;) {
    ui.WaitMessages(ms - elapsed + 1);
    elapsed = uint32_t(clock.GetTickCount() - start);
    if (elapsed > ms || ui.TerminateRequested()) return;
  }
}

TmexChipBus::TmexChipBus(Tmex& tmex, const StationConfig& station, const Clock& clock, Ui& ui)
    : tmex_(tmex), station_(station), clock_(clock), ui_(ui) {}

void TmexChipBus::LoadRom(int slot) {
  for (int i = 0; i < 8; ++i) session_.romBuffer[i] = int16_t(station_.sensorRom[slot][i]);
}

bool TmexChipBus::CallRom() {
  session_.lastResult = tmex_.TMRom(session_.sessionHandle, session_.stateBuffer.data(),
                                    session_.romBuffer.data());
  return session_.lastResult == 1;
}

void TmexChipBus::Expect1(DeviceResult& r, int16_t result, uint8_t code) {
  session_.lastResult = result;
  if (result != 1) Fail(r, code, result);
}

void TmexChipBus::ExpectPresence(DeviceResult& r, uint8_t code) {
  if (!Ok(r)) return;
  int16_t v = tmex_.TMTouchReset(session_.sessionHandle);
  session_.lastResult = v;
  if (v != 1 && v != 2) Fail(r, code, v);
}

void TmexChipBus::Send(DeviceResult& r, uint8_t byte, uint8_t code) {
  if (!Ok(r)) return;
  int16_t v = tmex_.TMTouchByte(session_.sessionHandle, byte);
  session_.lastResult = v;
  if (v < 0) Fail(r, code, v);
}

template <size_t N, typename CodeOf>
bool TmexChipBus::SendRun(DeviceResult& r, std::array<uint8_t, N>& run, CodeOf codeOf) {
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

void TmexChipBus::EndIfOk(const DeviceResult& r) {
  if (Ok(r)) session_.lastResult = tmex_.TMEndSession(session_.sessionHandle);
}

void TmexChipBus::Prologue(int slot, const std::array<uint8_t, 5>& codes, DeviceResult& r) {
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

void TmexChipBus::Reselect(int slot, uint8_t romCode, uint8_t validCode, uint8_t accessCode,
                           DeviceResult& r) {
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

ScratchpadBytes TmexChipBus::ReadScratchpad(int slot) {
  ScratchpadBytes r;
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
  if (Ok(r)) WaitTicks(ui_, clock_, 1800);
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 52);
  if (Ok(r)) Expect1(r, tmex_.TMAccess(h, session_.stateBuffer.data()), 70);
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 72);
  // Read Scratchpad and the whole scratchpad with its CRC, in one run.
  std::array<uint8_t, 10> run;
  run.fill(0xFF);
  run[0] = 0xBE;
  SendRun(r, run, [](size_t i) -> uint8_t { return i == 0 ? 80 : i == 1 ? 90 : i == 2 ? 100 : kScratchpadReadCode; });
  if (Ok(r)) Expect1(r, tmex_.TMValidSession(h), 92);
  if (Ok(r)) std::copy(run.begin() + 1, run.end(), r.pad.begin());
  EndIfOk(r);
  return r;
}

CounterBytes TmexChipBus::ReadCounter(int slot, int page) {
  CounterBytes r;
  Prologue(slot, kPrologueCodes, r);
  const int32_t h = session_.sessionHandle;
  // Read Memory with Counter at the page, the page's 32 data bytes (read and
  // dropped), the four counter bytes, four zero bytes and the chip's CRC16
  // over all of it, in one run. A failed exchange gives no count rather than
  // a mix of error numbers.
  std::array<uint8_t, 45> run;
  run.fill(0xFF);
  run[0] = 0xA5;
  run[1] = page == 14 ? 0xC0 : 0xE0;
  run[2] = 0x01;
  if (Ok(r)) {
    if (SendRun(r, run, [](size_t i) -> uint8_t { return i == 0 ? 50 : i == 1 ? 60 : i == 2 ? 70 : 120; })) {
      session_.lastResult = run[2];  // the read-back of the address byte $01
      std::copy(run.begin() + 35, run.begin() + 39, r.counter.begin());
      if (session_.lastResult != 1) {
        Fail(r, 120, session_.lastResult);
        r.counter[3] = 0;
      } else {
        r.crcCovered.assign(run.begin(), run.end());
      }
    }
  } else {
    // The page's data is read whatever happened before.
    for (int i = 0; i < 32; ++i) tmex_.TMTouchByte(h, 0xFF);
  }
  EndIfOk(r);
  return r;
}

Page0Bytes TmexChipBus::ReadVadPage(int slot) {
  Page0Bytes r;
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
  if (Ok(r)) std::copy(read.begin() + 2, read.end(), r.page.begin());
  EndIfOk(r);
  return r;
}

DeviceResult TmexChipBus::SetUpAdc(int slot) {
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
  return r;
}

AdcBytes TmexChipBus::ReadAdc(int slot, bool ready) {
  AdcBytes r;
  if (!ready)
    r.stepCode = 10;
  else
    Prologue(slot, kPrologueCodes, r);
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
  WaitTicks(ui_, clock_, 55);  // made whatever the failure state
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
  if (Ok(r)) {
    std::array<uint8_t, 13> read;
    read.fill(0xFF);
    read[0] = 0xAA;
    read[1] = read[2] = 0x00;
    int16_t good = 0;
    const int16_t v = tmex_.TMBlockStream(h, read.data(), int16_t(read.size()), &good);
    for (size_t i = 0; i < r.results.size(); ++i)
      r.results[i] = v >= 0 || int(3 + i) < good ? read[3 + i] : 0;  // a failed read counts as 0
    if (v < 0) {
      session_.lastResult = v;
      Fail(r, good == 0 ? 160 : good == 1 ? 170 : good == 2 ? 180 : good == 12 ? 252 : 250, v);
    } else {
      session_.lastResult = read[12];
    }
  } else {
    for (uint8_t& b : r.results) {
      const int v = tmex_.TMTouchByte(h, 0xFF);  // made whatever the failure state
      b = v < 0 ? 0 : uint8_t(v);
    }
  }
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

std::string TmexChipBus::LastFault() {
  // The adapter of the session that failed says which device and why.
  const BusBackend* b = tmex_.BackendOf(session_.sessionHandle);
  const std::string why = b ? b->LastError() : std::string();
  return why.empty() ? why : " (" + why + ")";
}

}  // namespace wx
