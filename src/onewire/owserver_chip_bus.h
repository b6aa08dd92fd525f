// SPDX-License-Identifier: GPL-2.0-or-later
// The chips read through owserver (OWFS) over libownet: the raw bytes the
// device layer decodes, read so that they are what the TMEX sequences read
// (a property that converts, then the page or scratchpad that holds the
// result), always uncached. libownet blocks, so every call runs on a worker
// thread while the caller pumps window messages; a quit ends the wait.
#pragma once
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "onewire/chip_bus.h"
#include "platform/profile.h"

namespace wx {

// "HOST:PORT" (or ":PORT", "PORT") as owserver's -p and libownet take it;
// nullopt, with why, when it is not that.
std::optional<std::string> CheckOwserverAddress(const std::string& text, std::string& why);

// [Bus] Owserver of the secondary file: the address, or nullopt when the
// key is absent or empty, or (with why) not HOST:PORT.
std::optional<std::string> ReadOwserverSetting(const ProfileFile& ini, std::string& why);

// The OWFS name of a chip: family, dot, the six serial bytes
// ("10.12AB00000000"), from a ROM code with byte 0 the family.
std::string OwfsName(const std::array<uint8_t, 8>& rom);

// One answer of owserver: the bytes, or a negative code with its reason.
struct OwAnswer {
  int code = 0;  // >= 0 success
  std::string bytes;
  std::string reason;
};

// The blocking libownet calls, on a thread of their own.
class OwserverConnection {
 public:
  explicit OwserverConnection(std::string address);
  ~OwserverConnection();
  OwserverConnection(const OwserverConnection&) = delete;
  OwserverConnection& operator=(const OwserverConnection&) = delete;

  // Runs the calls, in order, on the worker; while they run, pump (when
  // given) is called every few milliseconds and may return false to stop
  // waiting (the answers are then dropped). The answers, one per call, or
  // nullopt when pump stopped the wait. The calls after a failed one are
  // not made.
  struct Call {
    enum Kind { kRead, kWrite, kList, kPresent } kind = kRead;
    std::string path;
    std::string value;  // what kWrite writes
  };
  std::optional<std::vector<OwAnswer>> Run(std::vector<Call> calls, const std::function<bool()>& pump);
  const std::string& address() const { return address_; }

 private:
  struct Shared;
  std::string address_;
  std::shared_ptr<Shared> shared_;
};

class OwserverChipBus : public ChipBus {
 public:
  OwserverChipBus(const std::string& address, const StationConfig& station, Ui& ui);

  ScratchpadBytes ReadScratchpad(int slot) override;
  CounterBytes ReadCounter(int slot, int page) override;
  Page0Bytes ReadVadPage(int slot) override;
  DeviceResult SetUpAdc(int slot) override;
  AdcBytes ReadAdc(int slot, bool ready) override;
  std::string LastFault() override { return fault_.empty() ? fault_ : " (" + fault_ + ")"; }

 private:
  // Runs the calls for the chip of slot; on the first failure sets r's step
  // (dataStep for a failed read, the session and select steps for an
  // unreachable server and an absent chip) and the reason. The answers, or
  // empty after a failure.
  std::vector<std::string> Ask(int slot, std::vector<OwserverConnection::Call> calls, uint8_t startStep,
                               uint8_t selectStep, uint8_t dataStep, DeviceResult& r);
  std::string Path(int slot, const std::string& property) const;

  OwserverConnection connection_;
  const StationConfig& station_;
  Ui& ui_;
  std::string fault_;
  // A DS18B20's resolution as the chip holds it (9..12), learnt at its first
  // reading: owserver's plain temperature read would set 12 bits.
  std::array<int, 13> resolution_{};
};

}  // namespace wx
