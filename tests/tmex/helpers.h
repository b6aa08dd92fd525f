// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "tmex/crc.h"
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/sim_network.h"
#include "tmex/tmex.h"

namespace wx::test {

// A master the way the device layer drives the stand-in: session, set-up,
// ROM into the state buffer, select, then byte traffic.
struct Master {
  explicit Master(SimNetwork& net) : tmex(MakeSimBackendFactory(net)), net(net) {}

  int32_t Start() {
    h = tmex.TMExtendedStartSession(static_cast<int16_t>(net.adapterPort()),
                                    static_cast<int16_t>(net.adapterType()), nullptr);
    return h;
  }
  void Open() {
    ASSERT_GE(Start(), 1);
    ASSERT_EQ(tmex.TMSetup(h), 1);
  }
  int16_t SetRom(const RomCode& rom) {
    int16_t words[8];
    for (int i = 0; i < 8; ++i) words[i] = rom[i];
    return tmex.TMRom(h, state.data(), words);
  }
  int16_t Select(const RomCode& rom, bool strong = false) {
    SetRom(rom);
    return strong ? tmex.TMStrongAccess(h, state.data()) : tmex.TMAccess(h, state.data());
  }
  int Byte(int b) { return tmex.TMTouchByte(h, static_cast<int16_t>(b)); }
  std::vector<uint8_t> Read(int n) {
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(Byte(0xFF)));
    return out;
  }
  void Send(std::initializer_list<int> bytes) {
    for (int b : bytes) EXPECT_EQ(Byte(b), b) << "echo of " << b;
  }

  Tmex tmex;
  SimNetwork& net;
  int32_t h = 0;
  std::vector<uint8_t> state = std::vector<uint8_t>(15360);
};

inline uint16_t Crc16Of(const std::vector<uint8_t>& v) { return Crc16(v.data(), v.size()); }
inline uint8_t Crc8Of(const std::vector<uint8_t>& v) { return Crc8(v.data(), v.size()); }

}  // namespace wx::test
