// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/sim/sim_backend.h"

namespace wx {

bool SimBackend::Open() {
  if (!answers_) {
    error_ = "simulated adapter does not answer";
    open_ = false;
    return false;
  }
  open_ = true;
  error_.clear();
  return true;
}

void SimBackend::Close() {
  if (open_) bus_.SetStrongPullup(false);
  open_ = false;
  armed_ = false;
}

int SimBackend::Reset() {
  if (!open_) return kTmexErrNotOpen;
  armed_ = false;
  bus_.SetStrongPullup(false);
  return bus_.ResetPulse();
}

int SimBackend::TouchByte(uint8_t byte) {
  if (!open_) return kTmexErrNotOpen;
  int out = 0;
  for (int i = 0; i < 8; ++i)
    if (bus_.Slot((byte >> i) & 1)) out |= 1 << i;
  if (armed_) {
    bus_.SetStrongPullup(true);
    armed_ = false;
  }
  return out;
}

int SimBackend::TouchBit(int bit) {
  if (!open_) return kTmexErrNotOpen;
  return bus_.Slot(bit != 0) ? 1 : 0;
}

int SimBackend::SetLevel(int level, bool primeOnByte) {
  if (!open_) return kTmexErrNotOpen;
  if (level == 1 && primeOnByte) {
    armed_ = true;
    return 1;
  }
  armed_ = false;
  bus_.SetStrongPullup(level == 1);
  return level;
}

BackendFactory MakeSimBackendFactory(SimNetwork& network) {
  return [&network](int port, int type) -> std::unique_ptr<BusBackend> {
    if (port != network.adapterPort() || type != network.adapterType()) return nullptr;
    return std::make_unique<SimBackend>(network, network.adapterAnswers());
  };
}

}  // namespace wx
