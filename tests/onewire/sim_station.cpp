// SPDX-License-Identifier: GPL-2.0-or-later
// The test station over the simulated network: chips added from code, their
// values set as constants, faults switched on the chips themselves.
#include "onewire/sim_station.h"

#include <map>

#include "tmex/sim/chips.h"
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/sim_network.h"

namespace wx::test {

struct SimStation::Impl {
  explicit Impl(const Clock& c) : net(c) {}
  SimNetwork net;
  bool absent = false;
  uint64_t serial = 0x5A0100;
};

SimStation::SimStation(const Clock& clock) : impl_(std::make_unique<Impl>(clock)) {}
SimStation::~SimStation() = default;

BackendFactory SimStation::Factory() {
  Impl* impl = impl_.get();
  return [impl](int port, int type) -> std::unique_ptr<BusBackend> {
    if (impl->absent) return nullptr;
    impl->net.SetAdapter(type, port);  // every port and type reach this network
    return MakeSimBackendFactory(impl->net)(port, type);
  };
}

void SimStation::SetAdapterAbsent(bool absent) { impl_->absent = absent; }

SimStation::Rom SimStation::AddDs18S20(double celsius) {
  auto& c = impl_->net.AddDs18s20(MakeRom(0x10, ++impl_->serial));
  c.SetTemperature(ValueProgram::Constant(celsius));
  return c.rom();
}
SimStation::Rom SimStation::AddDs18B20(double celsius) {
  auto& c = impl_->net.AddDs18b20(MakeRom(0x28, ++impl_->serial));
  c.SetTemperature(ValueProgram::Constant(celsius));
  return c.rom();
}
SimStation::Rom SimStation::AddDs2438(double celsius, double volts) {
  auto& c = impl_->net.AddDs2438(MakeRom(0x26, ++impl_->serial));
  c.SetTemperature(ValueProgram::Constant(celsius));
  c.SetVad(ValueProgram::Constant(volts));
  return c.rom();
}
SimStation::Rom SimStation::AddDs2423(uint32_t page14, uint32_t page15) {
  auto& c = impl_->net.AddDs2423(MakeRom(0x1D, ++impl_->serial));
  c.SetCounterA(ValueProgram::Constant(page14));
  c.SetCounterB(ValueProgram::Constant(page15));
  return c.rom();
}
SimStation::Rom SimStation::AddDs2450(std::array<uint16_t, 4> inputs) {
  auto& c = impl_->net.AddDs2450(MakeRom(0x20, ++impl_->serial));
  const Rom rom = c.rom();
  SetInputs(rom, inputs);
  return rom;
}

void SimStation::SetTemperature(const Rom& rom, double celsius) {
  SimChip* chip = impl_->net.Find(rom);
  if (auto* t = dynamic_cast<Ds18x20*>(chip)) t->SetTemperature(ValueProgram::Constant(celsius));
  if (auto* t = dynamic_cast<Ds2438*>(chip)) t->SetTemperature(ValueProgram::Constant(celsius));
}
void SimStation::SetVoltage(const Rom& rom, double volts) {
  if (auto* c = dynamic_cast<Ds2438*>(impl_->net.Find(rom))) c->SetVad(ValueProgram::Constant(volts));
}
void SimStation::SetCounter(const Rom& rom, int page, uint32_t value) {
  if (auto* c = dynamic_cast<Ds2423*>(impl_->net.Find(rom))) {
    if (page == 15)
      c->SetCounterB(ValueProgram::Constant(value));
    else
      c->SetCounterA(ValueProgram::Constant(value));
  }
}
void SimStation::SetInputs(const Rom& rom, std::array<uint16_t, 4> inputs) {
  if (auto* c = dynamic_cast<Ds2450*>(impl_->net.Find(rom)))
    for (int i = 0; i < 4; ++i)  // results as the chip reports them, 5.12 V full scale
      c->SetInput(i, ValueProgram::Constant((inputs[i] + 0.5) / 65536.0 * 5.12));
}
void SimStation::SetStuckConversion(const Rom& rom, bool stuck) {
  if (SimChip* c = impl_->net.Find(rom)) c->SetStuckConversion(stuck);
}
void SimStation::SetBitErrors(const Rom& rom, double rate, uint32_t seed) {
  if (SimChip* c = impl_->net.Find(rom)) c->SetBitErrors(rate, seed);
}
void SimStation::StopAfterAccesses(const Rom& rom, int n) {
  if (SimChip* c = impl_->net.Find(rom)) c->StopAfterAccesses(c->accesses() + n);
}
void SimStation::Remove(const Rom& rom) {
  if (SimChip* c = impl_->net.Find(rom)) c->SetAbsent(true);
}

}  // namespace wx::test
