// SPDX-License-Identifier: GPL-2.0-or-later
// The DS2480B serial backend on a pseudo-terminal, the fuzz input playing the
// adapter. Open() is answered by a responder thread (its flushes rule out
// answering ahead); after that, each call's answer bytes are queued before the
// call, so they may be short, long or wrong. The runs of bytes (blocks, the
// reset with its block or search) are answered when their request arrives,
// since their flush would drop an answer sent ahead: an answer a sound bus
// gives, or one made wrong. Every result must be in its range, a sound answer
// must give exactly the bus's bytes, a fault must be named, and a backend
// that failed must refuse further calls until it is opened again.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "tmex/ds2480b/serial_backend.h"

namespace wx::fuzz {
namespace {

// The adapter played here needs no settling time, so the backend's pauses
// are skipped on the thread that drives it (and only there).
thread_local bool skipPauses = false;

struct SkipPauses {
  SkipPauses() { skipPauses = true; }
  ~SkipPauses() { skipPauses = false; }
};

constexpr uint8_t kConfigRequest[6] = {0x17, 0x45, 0x5B, 0x3F, 0x0F, 0x91};
constexpr uint8_t kConfigAnswer[6] = {0x16, 0x44, 0x5A, 0x3E, 0x00, 0x93};
// Short enough to keep the fuzzer busy, long enough for the pty to deliver.
constexpr int kTimeoutMs = 25;

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  bool ok() const { return !slave_.empty(); }
  int master() const { return master_; }
  const std::string& slave() const { return slave_; }

 private:
  int master_ = -1;
  std::string slave_;
};

// Answers each configuration request of Open() with the next planned answer.
class DetectResponder {
 public:
  DetectResponder(Pty& pty, std::vector<std::vector<uint8_t>> answers)
      : pty_(pty), answers_(std::move(answers)), wake_(::eventfd(0, EFD_CLOEXEC)), thread_([this] { Run(); }) {}
  ~DetectResponder() { Stop(); }
  // Ends the thread; then the answers it gave, one per request.
  const std::vector<std::vector<uint8_t>>& Stop() {
    stop_ = true;
    const uint64_t one = 1;
    if (wake_ >= 0) (void)!::write(wake_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    if (wake_ >= 0) ::close(wake_);
    wake_ = -1;
    return given_;
  }

 private:
  void Run() {
    size_t matched = 0;
    while (!stop_) {
      pollfd p[2] = {{pty_.master(), POLLIN, 0}, {wake_, POLLIN, 0}};
      if (::poll(p, wake_ >= 0 ? 2 : 1, 5) <= 0 || !(p[0].revents & POLLIN)) continue;
      uint8_t buf[256];
      const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        matched = buf[i] == kConfigRequest[matched] ? matched + 1 : (buf[i] == kConfigRequest[0] ? 1 : 0);
        if (matched < sizeof kConfigRequest) continue;
        matched = 0;
        const size_t k = given_.size();
        given_.push_back(k < answers_.size() ? answers_[k] : std::vector<uint8_t>());
        if (!given_.back().empty()) (void)!::write(pty_.master(), given_.back().data(), given_.back().size());
      }
    }
  }
  Pty& pty_;
  std::vector<std::vector<uint8_t>> answers_;
  std::vector<std::vector<uint8_t>> given_;
  std::atomic<bool> stop_{false};
  int wake_;
  std::thread thread_;
};

// Takes in all the host sends after Open(); an armed answer goes out as soon
// as a byte of the call's request arrives (after its flush, which precedes
// the request).
class Answerer {
 public:
  explicit Answerer(Pty& pty) : pty_(pty), thread_([this] { Run(); }) {}
  ~Answerer() {
    stop_ = true;
    thread_.join();
  }
  void Arm(std::vector<uint8_t> answer) {
    const std::lock_guard<std::mutex> lock(mutex_);
    DrainLocked();  // bytes of earlier calls must not trigger this answer
    pending_ = std::move(answer);
  }
  void Disarm() {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_.clear();
  }

 private:
  size_t DrainLocked() {
    size_t got = 0;
    uint8_t buf[256];
    for (ssize_t n; (n = ::read(pty_.master(), buf, sizeof buf)) > 0;) got += static_cast<size_t>(n);
    return got;
  }
  void Run() {
    while (!stop_) {
      pollfd p{pty_.master(), POLLIN, 0};
      if (::poll(&p, 1, 2) <= 0) continue;
      const std::lock_guard<std::mutex> lock(mutex_);
      if (DrainLocked() > 0 && !pending_.empty()) {
        (void)!::write(pty_.master(), pending_.data(), pending_.size());
        pending_.clear();
      }
    }
  }
  Pty& pty_;
  std::mutex mutex_;
  std::vector<uint8_t> pending_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The accelerator's 16 answer bytes for a search steered along rom with one
// chip (chipRom) on the line, or nobody (chipRom null): with one chip every
// bit is its own, without a conflict; nobody answering reads as 1 and 1.
std::vector<uint8_t> SearchAnswer(const uint8_t* chipRom) {
  std::vector<uint8_t> a(16, 0);
  for (int n = 0; n < 64; ++n) {
    const int bit = chipRom ? (chipRom[n / 8] >> (n % 8)) & 1 : 1;
    const int d = chipRom ? 0 : 1;
    a[n / 4] |= static_cast<uint8_t>((d | bit << 1) << (2 * (n % 4)));
  }
  return a;
}

bool IsSerialError(int r) { return r >= kTmexErrOutOfStep && r <= kTmexErrNotOpen; }

}  // namespace

std::string FuzzDs2480b(const uint8_t* data, size_t size) {
  Findings f;
  Pty pty;
  if (!pty.ok()) return {};
  ByteReader in(data, size);

  // Up to three detection answers: the right one with some bits flipped,
  // or cut short.
  std::vector<std::vector<uint8_t>> detect;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<uint8_t> a(kConfigAnswer, kConfigAnswer + 6);
    if (in.Bool()) {
      const size_t at = static_cast<size_t>(in.InRange(0, 5));
      a[at] ^= in.Byte();
    }
    if (in.InRange(0, 15) == 0) a.resize(static_cast<size_t>(in.InRange(0, 5)));
    detect.push_back(a);
  }

  const SkipPauses fast;
  Ds2480bBackend backend(pty.slave(), kTimeoutMs);
  bool open = false;
  bool lateDetection = false;  // a retried detection's answer may still be in flight
  {
    DetectResponder responder(pty, detect);
    open = backend.Open();
    const auto& given = responder.Stop();
    lateDetection = given.size() > 1;
    if (open) {
      // A slow pty may hand one attempt's answer to the next, so any of the
      // answers given may be the one that was read.
      bool genuine = false;
      for (const auto& a : given)
        genuine = genuine || (a.size() == 6 && std::equal(a.begin(), a.begin() + 5, kConfigAnswer) &&
                              (a[5] & 0xFC) == 0x90);
      f.Check(genuine, "only a DS2480B's configuration answer is accepted");
    } else {
      f.Check(!backend.LastError().empty(), "a failed open says why");
    }
  }
  if (!open) return f.First();
  Answerer answerer(pty);

  bool broken = false;
  bool primed = false;
  bool pullup = false;
  // Bytes of an earlier answer may still wait unread: a pty hands written
  // bytes on later, so even a flush before the call may miss them.
  bool stray = lateDetection;
  while (in.remaining() > 0) {
    const int op = in.InRange(0, 4);
    const std::vector<uint8_t> answer = in.Bytes(static_cast<size_t>(in.InRange(0, 9)));
    if (!answer.empty()) (void)!::write(pty.master(), answer.data(), answer.size());
    if (op < 4) stray = stray || !answer.empty();
    int r = 0;
    switch (op) {
      case 0:
        r = backend.Reset();
        f.Check(IsSerialError(r) || (r >= 0 && r <= 2), "reset gives 0, 1, 2 or an adapter fault");
        if (r >= 0) primed = pullup = false;
        break;
      case 1: {
        const uint8_t byte = in.Byte();
        const bool wasPrimed = primed;
        r = backend.TouchByte(byte);
        f.Check(IsSerialError(r) || (r >= 0 && r <= 255), "a byte is 0..255 or an adapter fault");
        if (r >= 0) f.Check((r & ~byte) == 0, "a bit sent as 0 never comes back as 1");
        if (r >= 0) primed = false;
        if (r >= 0) pullup = wasPrimed;
        break;
      }
      case 2: {
        const int bit = in.Bool() ? 1 : 0;
        r = backend.TouchBit(bit);
        f.Check(IsSerialError(r) || r == 0 || r == 1, "a bit is 0, 1 or an adapter fault");
        if (r >= 0 && bit == 0) f.Check(r == 0, "a written 0 reads back as 0");
        if (r >= 0) pullup = false;
        break;
      }
      case 3: {
        const int level = in.Bool() ? 1 : 0;
        const bool prime = in.Bool();
        r = backend.SetLevel(level, prime);
        f.Check(IsSerialError(r) || r == level, "a level change gives the level or an adapter fault");
        // Arming stays until a byte or a reset uses it, or level 0.
        if (r >= 0) primed = level == 1 && (prime || primed);
        if (r >= 0 && (level == 0 || !prime)) pullup = level == 1;
        break;
      }
      default: {
        const int run = in.InRange(0, 4);
        if (run == 0) {
          // Cable pulled and put back: the port is reopened from scratch.
          backend.Close();
          return f.First();
        }
        const bool withReset = run == 2 || run == 3;
        const bool search = run >= 3;
        // Exactly as long as asked, so a read or write past it is caught.
        const size_t len = search ? 8 : static_cast<size_t>(in.InRange(0, 16));
        std::unique_ptr<uint8_t[]> data(new uint8_t[len == 0 ? 1 : len]);
        for (size_t i = 0; i < len; ++i) data[i] = in.Byte();
        const std::vector<uint8_t> sent(data.get(), data.get() + len);

        // What a sound bus answers: the end of a pull-up, the reset's
        // presence, the echoes (chips pull bits low), the search path.
        std::vector<uint8_t> sound;
        if (pullup) sound.push_back(0xEC);
        int presence = 1;
        if (withReset) {
          const int kind = in.InRange(0, 3);
          const uint8_t codes[3] = {0xCD, 0xCE, 0xCF};
          presence = kind == 0 ? 1 : kind == 1 ? 2 : 0;
          sound.push_back(kind < 3 ? codes[kind] : in.Byte());
          if (kind == 3) presence = -1;  // any byte: no exact result
        }
        std::vector<uint8_t> expected;
        int want = 0;
        if (search) {
          uint8_t chip[8];
          std::copy(sent.begin(), sent.end(), chip);
          const int who = in.InRange(0, 2);  // nobody, this chip, another one
          if (who == 2) chip[in.InRange(0, 7)] ^= static_cast<uint8_t>(1 << in.InRange(0, 7));
          const std::vector<uint8_t> path = SearchAnswer(who == 0 || presence == 0 ? nullptr : chip);
          sound.push_back(0xF0);
          sound.insert(sound.end(), path.begin(), path.end());
          want = presence > 0 && who == 1 ? 1 : 0;
        } else {
          for (size_t i = 0; i < len; ++i)
            expected.push_back(presence > 0 ? static_cast<uint8_t>(sent[i] & in.Byte()) : sent[i]);
          sound.insert(sound.end(), expected.begin(), expected.end());
          want = withReset ? presence : static_cast<int>(len);
        }
        // Made wrong: a byte changed, the answer cut short or too long.
        std::vector<uint8_t> given = sound;
        const int harm = in.InRange(0, 3);
        if (harm == 1 && !given.empty()) given[in.Byte() % given.size()] ^= in.Byte() | 1;
        if (harm == 2) given.resize(in.Byte() % (given.size() + 1));
        if (harm == 3) {
          const std::vector<uint8_t> more = in.Bytes(static_cast<size_t>(in.InRange(1, 4)));
          given.insert(given.end(), more.begin(), more.end());
        }
        // A reset's flush drops stray bytes; an answer sent ahead may race it.
        stray = withReset ? !answer.empty() : stray || !answer.empty();
        const bool exact = harm == 0 && !stray && !broken && !primed && !pullup && presence >= 0;
        stray = stray || harm == 3;

        answerer.Arm(given);
        size_t good = 0;
        const bool wasPrimed = primed;
        switch (run) {
          case 1: r = backend.TouchBlock(data.get(), len, &good); break;
          case 2: r = backend.ResetThenBlock(data.get(), len); break;
          case 3: r = backend.ResetThenSearch(data.get()); break;
          default: r = backend.SteeredSearch(data.get()); break;
        }
        answerer.Disarm();
        if (search) {
          f.Check(IsSerialError(r) || r == 0 || r == 1, "a search gives 0, 1 or an adapter fault");
          f.Check(std::equal(sent.begin(), sent.end(), data.get()), "a search leaves the ROM as it was");
        } else if (withReset) {
          f.Check(IsSerialError(r) || (r >= 0 && r <= 2), "a reset with its block gives 0, 1, 2 or a fault");
        } else {
          f.Check(IsSerialError(r) || r == static_cast<int>(len), "a block gives its length or a fault");
          f.Check(good <= len && (r < 0 || good == len), "the clean bytes of a block are counted");
        }
        if (!search && r > 0)
          for (size_t i = 0; i < len; ++i)
            f.Check((data[i] & ~sent[i]) == 0, "a bit sent as 0 never comes back as 1");
        // A late answer (a loaded machine) may time out; nothing else may differ.
        if (exact && r != kTmexErrTimeout) {
          f.Check(r == want, "a sound answer gives the bus's result");
          if (!search && r > 0)
            f.Check(std::equal(expected.begin(), expected.end(), data.get()), "a sound answer gives the bus's bytes");
        }
        if (r >= 0 && run == 1 && wasPrimed) {
          // Byte by byte then: the pull-up follows the first byte, and the
          // next one ends it.
          primed = len == 0;
          pullup = len == 0 ? pullup : len == 1;
        } else if (r >= 0) {
          pullup = primed = false;
        }
        break;
      }
    }
    if (broken) f.Check(r == kTmexErrOutOfStep, "after a fault every call is refused until reopened");
    if (r < 0) {
      f.Check(backend.LastError().find(pty.slave()) != std::string::npos, "a fault names the device");
      broken = true;
    }
    if (f.Failed()) break;
  }
  backend.Close();
  return f.First();
}

}  // namespace wx::fuzz

// Replaces the C library's nanosleep for this program (std::this_thread::
// sleep_for lands here); every thread but the one driving the backend sleeps.
extern "C" int nanosleep(const struct timespec* req, struct timespec* rem) {
  if (wx::fuzz::skipPauses) return 0;
  return static_cast<int>(::syscall(SYS_nanosleep, req, rem));
}

WX118_FUZZ_TARGET(wx::fuzz::FuzzDs2480b)
