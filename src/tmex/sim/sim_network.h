// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated 1-Wire line with its chips: wired-AND of every chip's output
// in each time slot, presence on reset. Chip time is the injected clock's
// tick time since the network was made plus the time the bus traffic itself
// takes (a slot ~70 us, a reset ~1 ms), so back-to-back commands see short
// conversions finish as they would on a real line.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tmex/sim/chips.h"
#include "tmex/sim/slot_bus.h"

namespace wx {

class SimNetwork : public SlotBus {
 public:
  static constexpr SimTimeUs kSlotUs = 70;
  static constexpr SimTimeUs kResetUs = 1000;

  explicit SimNetwork(const Clock& clock);

  // The adapter the station has (as lines h and i of the primary file).
  int adapterType() const { return adapterType_; }
  int adapterPort() const { return adapterPort_; }
  void SetAdapter(int type, int port) {
    adapterType_ = type;
    adapterPort_ = port;
  }
  // false: the adapter is there but does not answer (TMSetup fails).
  bool adapterAnswers() const { return adapterAnswers_; }
  void SetAdapterAnswers(bool on) { adapterAnswers_ = on; }

  // Builder: each returns the chip, owned by the network.
  Ds18x20& AddDs18s20(const RomCode& rom);
  Ds18x20& AddDs18b20(const RomCode& rom);
  Ds2438& AddDs2438(const RomCode& rom);
  Ds2423& AddDs2423(const RomCode& rom);
  Ds2450& AddDs2450(const RomCode& rom);
  SimChip& Add(std::unique_ptr<SimChip> chip);

  SimChip* Find(const RomCode& rom) const;
  SimChip* FindByName(const std::string& name) const;
  const std::vector<std::unique_ptr<SimChip>>& chips() const { return chips_; }

  int ResetPulse() override;
  bool Slot(bool masterBit) override;
  void SetStrongPullup(bool on) override { pullup_ = on; }
  bool strongPullup() const { return pullup_; }

  // Simulation time now (also advances the tick bookkeeping).
  SimTimeUs NowUs();
  uint64_t slots() const { return slots_; }
  uint64_t resets() const { return resets_; }

 private:
  const Clock& clock_;
  uint32_t lastTick_;
  uint64_t elapsedMs_ = 0;
  SimTimeUs busUs_ = 0;
  std::vector<std::unique_ptr<SimChip>> chips_;
  int adapterType_ = 5;
  int adapterPort_ = 1;
  bool adapterAnswers_ = true;
  bool pullup_ = false;
  uint64_t slots_ = 0, resets_ = 0;
};

}  // namespace wx
