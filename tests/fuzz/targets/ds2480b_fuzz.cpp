// The DS2480B serial backend on a pseudo-terminal, the fuzz input playing the
// adapter. Open() is answered by a responder thread (its flushes rule out
// answering ahead); after that, each call's answer bytes are queued before the
// call, so they may be short, long or wrong. Every result must be in its
// range, a fault must be named, and a backend that failed must refuse further
// calls until it is opened again.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>

#include <atomic>
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
  // Everything the host has written so far (waits up to ms for the first byte).
  std::vector<uint8_t> Drain(int ms) {
    std::vector<uint8_t> got;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, got.empty() ? ms : 0) > 0 && (p.revents & POLLIN)) {
      uint8_t buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

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
  {
    DetectResponder responder(pty, detect);
    open = backend.Open();
    const auto& given = responder.Stop();
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
  pty.Drain(0);

  bool broken = false;
  bool primed = false;
  while (in.remaining() > 0) {
    const int op = in.InRange(0, 4);
    const std::vector<uint8_t> answer = in.Bytes(static_cast<size_t>(in.InRange(0, 9)));
    if (!answer.empty()) (void)!::write(pty.master(), answer.data(), answer.size());
    int r = 0;
    switch (op) {
      case 0:
        r = backend.Reset();
        f.Check(IsSerialError(r) || (r >= 0 && r <= 2), "reset gives 0, 1, 2 or an adapter fault");
        if (r >= 0) primed = false;
        break;
      case 1: {
        const uint8_t byte = in.Byte();
        const bool wasPrimed = primed;
        r = backend.TouchByte(byte);
        f.Check(IsSerialError(r) || (r >= 0 && r <= 255), "a byte is 0..255 or an adapter fault");
        if (r >= 0 && !wasPrimed) f.Check((r & ~byte) == 0, "a bit sent as 0 never comes back as 1");
        if (r >= 0) primed = false;
        break;
      }
      case 2: {
        const int bit = in.Bool() ? 1 : 0;
        r = backend.TouchBit(bit);
        f.Check(IsSerialError(r) || r == 0 || r == 1, "a bit is 0, 1 or an adapter fault");
        if (r >= 0 && bit == 0) f.Check(r == 0, "a written 0 reads back as 0");
        break;
      }
      case 3: {
        const int level = in.Bool() ? 1 : 0;
        const bool prime = in.Bool();
        r = backend.SetLevel(level, prime);
        f.Check(IsSerialError(r) || r == level, "a level change gives the level or an adapter fault");
        if (r >= 0) primed = level == 1 && prime;
        break;
      }
      default:
        // Cable pulled and put back: the port is reopened from scratch.
        backend.Close();
        return f.First();
    }
    if (broken) f.Check(r == kTmexErrOutOfStep, "after a fault every call is refused until reopened");
    if (r < 0) {
      f.Check(backend.LastError().find(pty.slave()) != std::string::npos, "a fault names the device");
      broken = true;
    }
    pty.Drain(0);
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
