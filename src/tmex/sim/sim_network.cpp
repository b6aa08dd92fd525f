// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/sim/sim_network.h"

namespace wx {

SimNetwork::SimNetwork(const Clock& clock) : clock_(clock), lastTick_(clock.GetTickCount()) {}

SimChip& SimNetwork::Add(std::unique_ptr<SimChip> chip) {
  chips_.push_back(std::move(chip));
  return *chips_.back();
}

Ds18x20& SimNetwork::AddDs18s20(const RomCode& rom) {
  return static_cast<Ds18x20&>(Add(std::make_unique<Ds18x20>(rom)));
}
Ds18x20& SimNetwork::AddDs18b20(const RomCode& rom) {
  return static_cast<Ds18x20&>(Add(std::make_unique<Ds18x20>(rom)));
}
Ds2438& SimNetwork::AddDs2438(const RomCode& rom) {
  return static_cast<Ds2438&>(Add(std::make_unique<Ds2438>(rom)));
}
Ds2423& SimNetwork::AddDs2423(const RomCode& rom) {
  return static_cast<Ds2423&>(Add(std::make_unique<Ds2423>(rom)));
}
Ds2450& SimNetwork::AddDs2450(const RomCode& rom) {
  return static_cast<Ds2450&>(Add(std::make_unique<Ds2450>(rom)));
}

SimChip* SimNetwork::Find(const RomCode& rom) const {
  for (const auto& c : chips_)
    if (c->rom() == rom) return c.get();
  return nullptr;
}

SimChip* SimNetwork::FindByName(const std::string& name) const {
  for (const auto& c : chips_)
    if (c->name() == name) return c.get();
  return nullptr;
}

SimTimeUs SimNetwork::NowUs() {
  // The tick counter wraps every 49.7 days; differences stay right.
  const uint32_t t = clock_.GetTickCount();
  elapsedMs_ += static_cast<uint32_t>(t - lastTick_);
  lastTick_ = t;
  return elapsedMs_ * 1000 + busUs_;
}

int SimNetwork::ResetPulse() {
  ++resets_;
  const SimTimeUs now = NowUs();
  busUs_ += kResetUs;
  bool presence = false;
  for (auto& c : chips_)
    if (c->Reset(now)) presence = true;
  return presence ? 1 : 0;
}

bool SimNetwork::Slot(bool masterBit) {
  ++slots_;
  const SimTimeUs now = NowUs();
  busUs_ += kSlotUs;
  bool line = masterBit;
  // A chip out of the slots catches up with its conversions at the next
  // reset, from their end times, so skipping it changes nothing.
  for (auto& c : chips_) {
    if (!c->InSlots()) continue;
    c->Update(now);
    if (!c->Drive(now)) line = false;
  }
  for (auto& c : chips_)
    if (c->InSlots()) c->Sample(line, now);
  return line;
}

}  // namespace wx
