// SPDX-License-Identifier: GPL-2.0-or-later
#include "onewire/owserver_chip_bus.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "onewire/ownet_calls.h"
#include "platform/modules.h"
#include "tmex/families.h"
#include "tmex/tmex_errors.h"

// Defined where the table is linked into the program (the tests); the program
// itself loads the module.
extern "C" __attribute__((weak)) const wx::OwnetCalls wx118_ownet_calls;

namespace wx {

const OwnetCalls* LoadOwnet(std::string& why) {
  return LinkedOrLoaded(&wx118_ownet_calls, "wx118-owserver.so", "wx118_ownet_calls", why);
}

namespace {

// Only called once LoadOwnet has succeeded (a handle was opened).
const OwnetCalls& Ow() {
  std::string why;
  return *LoadOwnet(why);
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

OwserverConnection::Call Read(std::string path) { return {OwserverConnection::Call::kRead, std::move(path), {}}; }

}  // namespace

std::optional<std::string> CheckOwserverAddress(const std::string& text, std::string& why) {
  const std::string t = Trimmed(text);
  const size_t colon = t.rfind(':');
  const std::string host = colon == std::string::npos ? std::string() : t.substr(0, colon);
  const std::string port = colon == std::string::npos ? t : t.substr(colon + 1);
  const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535 ||
      host.find_first_of(" \t/") != std::string::npos) {
    why = "\"" + t + "\" is not HOST:PORT (a TCP port 1..65535 where owserver listens)";
    return std::nullopt;
  }
  return (host.empty() ? std::string("127.0.0.1") : host) + ":" + port;
}

std::optional<std::string> ReadOwserverSetting(const ProfileFile& ini, std::string& why) {
  const std::string given = ini.ReadString("Bus", "Owserver", "");
  if (given.empty()) return std::nullopt;
  return CheckOwserverAddress(given, why);
}

std::string OwfsName(const std::array<uint8_t, 8>& rom) {
  char text[20];
  std::snprintf(text, sizeof text, "%02X.%02X%02X%02X%02X%02X%02X", rom[0], rom[1], rom[2], rom[3], rom[4],
                rom[5], rom[6]);
  return text;
}

// --- the worker ---------------------------------------------------------------

struct OwserverConnection::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> jobs;
  bool stop = false;
  bool busy = false;
  OWNET_HANDLE handle = -1;  // the worker's own
};

OwserverConnection::OwserverConnection(std::string address)
    : address_(std::move(address)), shared_(std::make_shared<Shared>()) {
  // The thread holds the shared state, not this object: a call still
  // blocked at the end of the run finishes on its own.
  std::thread([s = shared_, address = address_] {
    std::unique_lock lock(s->mutex);
    for (;;) {
      s->wake.wait(lock, [&] { return s->stop || !s->jobs.empty(); });
      if (s->jobs.empty()) break;
      std::function<void()> job = std::move(s->jobs.front());
      s->jobs.pop_front();
      s->busy = true;
      lock.unlock();
      std::string why;
      if (s->handle < 0 && LoadOwnet(why)) s->handle = Ow().init(address.c_str());
      job();
      lock.lock();
      s->busy = false;
      s->wake.notify_all();
    }
    if (s->handle >= 0) Ow().close(s->handle);
  }).detach();
}

OwserverConnection::~OwserverConnection() {
  std::lock_guard lock(shared_->mutex);
  shared_->stop = true;
  shared_->jobs.clear();
  shared_->wake.notify_all();
}

std::optional<std::vector<OwAnswer>> OwserverConnection::Run(std::vector<Call> calls,
                                                             const std::function<bool()>& pump) {
  struct Outcome {
    std::vector<OwAnswer> answers;
    bool done = false;
  };
  auto outcome = std::make_shared<Outcome>();
  {
    std::lock_guard lock(shared_->mutex);
    shared_->jobs.push_back([s = shared_, outcome, calls = std::move(calls)] {
      std::vector<OwAnswer> answers;
      for (const Call& c : calls) {
        OwAnswer a;
        if (s->handle < 0) {
          a.code = s->handle;
        } else if (c.kind == Call::kWrite) {
          a.code = Ow().put(s->handle, c.path.c_str(), c.value.data(), c.value.size());
        } else if (c.kind == Call::kPresent) {
          a.code = Ow().present(s->handle, c.path.c_str());
        } else {
          char* buffer = nullptr;
          a.code = c.kind == Call::kList ? Ow().dirlist(s->handle, c.path.c_str(), &buffer)
                                         : Ow().read(s->handle, c.path.c_str(), &buffer);
          if (a.code > 0 && buffer) a.bytes.assign(buffer, size_t(a.code));
          std::free(buffer);
        }
        answers.push_back(std::move(a));
        if (answers.back().code < 0) break;  // the rest would act on a failed step
      }
      std::lock_guard lock(s->mutex);
      outcome->answers = std::move(answers);
      outcome->done = true;
    });
    shared_->wake.notify_all();
  }
  std::unique_lock lock(shared_->mutex);
  while (!outcome->done) {
    if (!pump) {
      shared_->wake.wait(lock);
      continue;
    }
    lock.unlock();
    const bool goOn = pump();
    lock.lock();
    if (!goOn) return std::nullopt;
  }
  return std::move(outcome->answers);
}

// --- the route -----------------------------------------------------------------

OwserverChipBus::OwserverChipBus(const std::string& address, const StationConfig& station, Ui& ui)
    : connection_(address), station_(station), ui_(ui) {}

std::string OwserverChipBus::Path(int slot, const std::string& property) const {
  return "/uncached/" + OwfsName(station_.sensorRom[slot]) + (property.empty() ? "" : "/" + property);
}

std::vector<std::string> OwserverChipBus::Ask(int slot, std::vector<OwserverConnection::Call> calls,
                                              uint8_t startStep, uint8_t selectStep, uint8_t dataStep,
                                              DeviceResult& r) {
  fault_.clear();
  const size_t wanted = calls.size();
  std::vector<std::string> paths;
  for (const auto& c : calls) paths.push_back(c.path);
  // Window messages every 10 ms while owserver works; a quit ends the wait.
  const auto pump = [this] {
    ui_.WaitMessages(10);
    return !ui_.TerminateRequested();
  };
  std::optional<std::vector<OwAnswer>> answers = connection_.Run(std::move(calls), pump);
  if (!answers) {
    r.stepCode = dataStep;
    r.tmexCode = kOwserverQuit;
    fault_ = "owserver " + connection_.address() + ": the program is quitting";
    return {};
  }
  if (answers->size() == wanted && answers->back().code >= 0) {
    std::vector<std::string> bytes;
    for (OwAnswer& a : *answers) bytes.push_back(std::move(a.bytes));
    return bytes;
  }
  const OwAnswer& failed = answers->back();
  const std::string& path = paths[answers->size() - 1];
  // libownet gives a negative number for every failure alike: asking
  // owserver for its root, then for the chip, tells which it was.
  const std::optional<std::vector<OwAnswer>> probe = connection_.Run(
      {{OwserverConnection::Call::kList, "/", {}}, {OwserverConnection::Call::kPresent, Path(slot, ""), {}}},
      pump);
  if (probe && !probe->empty() && probe->front().code < 0) {
    r.stepCode = startStep;
    r.tmexCode = kOwserverUnreachable;
    fault_ = "owserver " + connection_.address() + " does not answer";
    return {};
  }
  if (probe && probe->size() == 2 && probe->back().code < 0) {
    r.stepCode = selectStep;
    r.tmexCode = kOwserverNoChip;
    fault_ = "owserver " + connection_.address() + " does not find " + OwfsName(station_.sensorRom[slot]) +
             " on its bus";
  } else {
    r.stepCode = dataStep;
    r.tmexCode = kOwserverRefused;
    fault_ = "owserver " + connection_.address() + " gave error " + std::to_string(failed.code) + " for " + path;
  }
  return {};
}

namespace {

void BadAnswer(DeviceResult& r, uint8_t step, std::string& fault, const std::string& what) {
  r.stepCode = step;
  r.tmexCode = kOwserverBadAnswer;
  fault = what;
}

// An unsigned decimal of owserver's text, nullopt when it is none.
std::optional<uint32_t> Number(const std::string& text) {
  const std::string t = Trimmed(text);
  if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const unsigned long long v = std::strtoull(t.c_str(), nullptr, 10);
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return uint32_t(v);
}

}  // namespace

ScratchpadBytes OwserverChipBus::ReadScratchpad(int slot) {
  ScratchpadBytes r;
  std::string convert = "temperature";
  if (station_.sensorRom[slot][0] == kFamilyDs18b20) {
    // The resolution the chip holds: its scratchpad before the first
    // conversion through owserver, which sets what it is asked for.
    if (resolution_[size_t(slot)] == 0) {
      const auto pad = Ask(slot, {Read(Path(slot, "scratchpad"))}, 10, 40, 90, r);
      if (r.stepCode != 0) return r;
      resolution_[size_t(slot)] = pad[0].size() == 9 ? 9 + ((uint8_t(pad[0][4]) >> 5) & 3) : 12;
    }
    convert += std::to_string(resolution_[size_t(slot)]);
  }
  const auto got = Ask(slot, {Read(Path(slot, convert)), Read(Path(slot, "scratchpad"))}, 10,
                       40, 90, r);
  if (r.stepCode != 0) return r;
  if (got[1].size() != r.pad.size()) {
    BadAnswer(r, kScratchpadReadCode, fault_, "owserver gave " + std::to_string(got[1].size()) + " scratchpad bytes");
    return r;
  }
  std::copy(got[1].begin(), got[1].end(), r.pad.begin());
  return r;
}

CounterBytes OwserverChipBus::ReadCounter(int slot, int page) {
  CounterBytes r;
  // owserver checks the page's CRC16 itself and gives no count on a mismatch.
  const auto got = Ask(slot, {Read(Path(slot, page == 14 ? "counter.A" : "counter.B"))}, 10, 40, 120, r);
  if (r.stepCode != 0) return r;
  const std::optional<uint32_t> count = Number(got[0]);
  if (!count) {
    BadAnswer(r, 120, fault_, "owserver gave \"" + Trimmed(got[0]) + "\" for a count");
    return r;
  }
  for (int i = 0; i < 4; ++i) r.counter[size_t(i)] = uint8_t(*count >> (8 * i));
  return r;
}

Page0Bytes OwserverChipBus::ReadVadPage(int slot) {
  Page0Bytes r;
  // The two conversions the TMEX sequence makes, then page 0, whose CRC8
  // owserver has checked.
  const auto got = Ask(slot,
                       {Read(Path(slot, "temperature")),
                        Read(Path(slot, "VAD")),
                        Read(Path(slot, "pages/page.0"))},
                       10, 40, 70, r);
  if (r.stepCode != 0) return r;
  if (got[2].size() != 8) {
    BadAnswer(r, 70, fault_, "owserver gave " + std::to_string(got[2].size()) + " bytes of page 0");
    return r;
  }
  std::copy(got[2].begin(), got[2].end(), r.page.begin());
  r.crcChecked = true;
  return r;
}

DeviceResult OwserverChipBus::SetUpAdc(int slot) {
  DeviceResult r;
  // Every input 8 bits, output off, 5.12 V range, alarms off, POR cleared;
  // powered from VCC.
  const std::string control("\x08\x01\x08\x01\x08\x01\x08\x01", 8);
  Ask(slot,
      {{OwserverConnection::Call::kWrite, "/" + OwfsName(station_.sensorRom[slot]) + "/pages/page.1", control},
       {OwserverConnection::Call::kWrite, "/" + OwfsName(station_.sensorRom[slot]) + "/power", "1"}},
      40, 50, 90, r);
  return r;
}

AdcBytes OwserverChipBus::ReadAdc(int slot, bool ready) {
  AdcBytes r;
  if (!ready) {
    r.stepCode = 10;
    return r;
  }
  const auto got =
      Ask(slot, {Read(Path(slot, "8bit/volt.ALL")), Read(Path(slot, "pages/page.0"))}, 10, 40, 160,
          r);
  if (r.stepCode != 0) return r;
  if (got[1].size() != r.results.size()) {
    BadAnswer(r, 160, fault_, "owserver gave " + std::to_string(got[1].size()) + " bytes of page 0");
    return r;
  }
  std::copy(got[1].begin(), got[1].end(), r.results.begin());
  // A conversion that never finishes reads back through owserver as four
  // zero results with no error; the TMEX sequence sees it as a poll that
  // never ends. Four inputs all at 0 V are no vane position of tables a to
  // c, so they count as that failure here.
  if (std::all_of(r.results.begin(), r.results.end(), [](uint8_t b) { return b == 0; }))
    BadAnswer(r, 120, fault_, "owserver read all four inputs as 0: the conversion did not finish");
  return r;
}

}  // namespace wx
