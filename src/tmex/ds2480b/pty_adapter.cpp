// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/ds2480b/pty_adapter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace wx {
namespace {

int BaudOf(speed_t s) {
  switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
  }
}

// While nobody has the port open the master side reports a hang-up at once;
// look again this often for the next open.
constexpr int kHangupPollMs = 5;

// Packets read per call, so that a master that never stops writing cannot
// keep the owner from seeing its signals.
constexpr int kMostReads = 64;
constexpr uint8_t kFlushed = TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE;

}  // namespace

Ds2480bPty::Ds2480bPty(SlotBus& bus) : emu_(bus) {}

Ds2480bPty::~Ds2480bPty() { Close(); }

bool Ds2480bPty::Open() {
  Close();
  error_.clear();
  fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    error_ = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  if (::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
    error_ = std::string("cannot unlock the pseudo-terminal: ") + std::strerror(errno);
    Close();
    return false;
  }
  char name[128];
  if (::ptsname_r(fd_, name, sizeof name) != 0) {
    error_ = std::string("pseudo-terminal has no name: ") + std::strerror(errno);
    Close();
    return false;
  }
  slave_ = name;
  // Raw from the start: a master that has not set its modes yet must not
  // see our answers echoed back or line endings rewritten.
  const int s = ::open(name, O_RDWR | O_NOCTTY);
  if (s >= 0) {
    termios t{};
    if (::tcgetattr(s, &t) == 0) {
      ::cfmakeraw(&t);
      ::cfsetispeed(&t, B9600);
      ::cfsetospeed(&t, B9600);
      ::tcsetattr(s, TCSANOW, &t);
    }
    ::close(s);
  }
  // Packet mode reports the master's flushes next to the data.
  int on = 1;
  if (::ioctl(fd_, TIOCPKT, &on) != 0) {
    error_ = std::string("pseudo-terminal without packet mode: ") + std::strerror(errno);
    Close();
    return false;
  }
  hungUp_ = true;
  emu_.MasterReset();
  return true;
}

void Ds2480bPty::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

int Ds2480bPty::MasterBaud() const {
  termios t{};
  if (fd_ < 0 || ::tcgetattr(fd_, &t) != 0) return 0;
  return BaudOf(::cfgetospeed(&t));
}

bool Ds2480bPty::WriteAll(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EAGAIN) {
      // The master is not reading; a real line would lose these bytes too
      // once its buffer is full, so give up after a short wait.
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, 100) <= 0) return false;
      continue;
    }
    return false;
  }
  out_ += static_cast<long>(bytes.size());
  return true;
}

Ds2480bPty::Result Ds2480bPty::ReadAll() {
  Result result = Result::kIdle;
  uint8_t bufA[1 + 512], bufB[1 + 512];
  uint8_t *buf = bufA, *ahead = bufB;
  ssize_t aheadN = 0;  // a packet read ahead and not handled yet
  auto readPacket = [this](uint8_t* into) {
    ssize_t n;
    while ((n = ::read(fd_, into, 1 + 512)) < 0 && errno == EINTR) {
    }
    return n;
  };
  std::vector<uint8_t> in, out;
  for (int reads = 0; reads < kMostReads; ++reads) {
    ssize_t n = aheadN;
    if (aheadN > 0) {
      std::swap(buf, ahead);
      aheadN = 0;
    } else {
      n = readPacket(buf);
    }
    if (n < 0 && errno == EAGAIN) return result;
    if (n <= 0) {
      // EIO: the last master closed the port (its buffered bytes are done).
      hungUp_ = true;
      return result;
    }
    result = Result::kServed;
    if (buf[0] != TIOCPKT_DATA) {
      if (buf[0] & kFlushed) emu_.LineFlushed();
      continue;
    }
    in.assign(buf + 1, buf + n);
    // A read that races the master's flush returns the bytes written after
    // it and reports the flush only next: look one packet ahead, and put
    // such a flush back in front of the bytes that only follow one. Not in
    // the last round, which would leave the packet behind.
    if (reads + 1 < kMostReads) aheadN = std::max<ssize_t>(readPacket(ahead), 0);
    if (aheadN > 0 && ahead[0] != TIOCPKT_DATA && (ahead[0] & kFlushed) && emu_.StartsAfterFlush(in)) {
      emu_.LineFlushed();
      aheadN = 0;
    }
    in_ += static_cast<long>(in.size());
    if (trace_) trace_('>', in);
    out.clear();
    // A NUL sent below 9600 baud holds the line low past the stop bit, as a
    // break does: a master reset.
    const int baud = MasterBaud();
    const bool slow = baud > 0 && baud < 9600;
    for (uint8_t b : in) {
      if (slow && b == 0)
        emu_.MasterReset();
      else
        emu_.Feed(b, out);
    }
    if (!answering_) continue;
    if (filter_) filter_(out);
    if (out.empty()) continue;
    const double wireMs = latencyMs_ + (byteTime_ && baud > 0 ? (in.size() + out.size()) * 10000.0 / baud : 0.0);
    if (wireMs > 0) {
      const auto ns = static_cast<long long>(wireMs * 1e6);
      timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
      }
    }
    if (trace_) trace_('<', out);
    WriteAll(out);
  }
  return result;
}

Ds2480bPty::Result Ds2480bPty::Serve(int timeoutMs, const sigset_t* waitMask) {
  if (fd_ < 0) return Result::kFailed;
  pollfd p{fd_, POLLIN, 0};
  timespec ts{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
  int r = ::ppoll(&p, 1, &ts, waitMask);
  if (r < 0) return errno == EINTR ? Result::kInterrupted : Result::kFailed;
  if (r > 0 && (p.revents & POLLNVAL)) return Result::kFailed;
  // No hang-up reported (or a quiet timeout, which a closed port never
  // gives): a master has the port open.
  if (r == 0 || !(p.revents & POLLHUP)) {
    if (hungUp_) {
      // Someone opened the port (again): the adapter was without power.
      hungUp_ = false;
      ++reopens_;
      emu_.MasterReset();
    }
    return (r > 0 && (p.revents & POLLIN)) ? ReadAll() : Result::kIdle;
  }
  // Bytes the last master wrote before closing are still answered.
  const Result result = (p.revents & POLLIN) ? ReadAll() : Result::kIdle;
  hungUp_ = true;
  if (result == Result::kServed) return result;
  // Nobody has the port open: wait a little (interruptibly) for the next open.
  const int wait = timeoutMs < kHangupPollMs ? timeoutMs : kHangupPollMs;
  timespec nap{0, wait * 1000000L};
  r = ::ppoll(nullptr, 0, &nap, waitMask);
  if (r < 0 && errno == EINTR) return Result::kInterrupted;
  return Result::kIdle;
}

}  // namespace wx
