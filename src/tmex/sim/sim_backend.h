// SPDX-License-Identifier: GPL-2.0-or-later
// The TMEX stand-in's adapter over a simulated line: bytes as 8 time slots,
// LSB first, and a strong pull-up that can be armed to start right after the
// next byte.
#pragma once
#include "tmex/bus_backend.h"
#include "tmex/sim/sim_network.h"
#include "tmex/sim/slot_bus.h"
#include "tmex/tmex.h"

namespace wx {

class SimBackend : public BusBackend {
 public:
  explicit SimBackend(SlotBus& bus, bool adapterAnswers = true)
      : bus_(bus), answers_(adapterAnswers) {}
  bool Open() override;
  void Close() override;
  int Reset() override;
  int TouchByte(uint8_t byte) override;
  int TouchBit(int bit) override;
  int SetLevel(int level, bool primeOnByte) override;
  std::string LastError() const override { return error_; }

 private:
  SlotBus& bus_;
  bool answers_;
  bool open_ = false;
  bool armed_ = false;
  std::string error_;
};

// Serves the network's adapter: a session on that port with that type gets
// a SimBackend; any other port or type has no adapter (nullptr).
BackendFactory MakeSimBackendFactory(SimNetwork& network);

}  // namespace wx
