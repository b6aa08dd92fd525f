// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/ds2480b/serial_backend.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace wx {
namespace {
using Ms = std::chrono::milliseconds;
constexpr uint8_t kFlex = 0x04;  // flexible speed bits

void Pause(int ms) { std::this_thread::sleep_for(Ms(ms)); }
}  // namespace

Ds2480bBackend::Ds2480bBackend(std::string device, int timeoutMs)
    : device_(std::move(device)), timeoutMs_(timeoutMs) {}

Ds2480bBackend::~Ds2480bBackend() { Close(); }

int Ds2480bBackend::Fail(int code, const std::string& what) {
  // The byte stream can no longer be trusted; the next Open() starts over.
  broken_ = true;
  error_ = "DS2480B on " + device_ + ": " + what;
  return code;
}

std::string OpenFailureText(const std::string& device, int err) {
  std::string text = "cannot open " + device + ": " + std::strerror(err);
  if (err == EACCES || err == EPERM) {
    std::string owner = "dialout";
    struct stat st {};
    if (::stat(device.c_str(), &st) == 0)
      if (const struct group* g = ::getgrgid(st.st_gid); g && g->gr_name && *g->gr_name) owner = g->gr_name;
    text += "; to get access, add your user to the group " + owner + " (sudo usermod -aG " + owner +
            " $USER) and log in again";
  }
  return text;
}

bool Ds2480bBackend::KeptOpen() const {
  if (fd_ < 0 || broken_) return false;
  // An unplugged adapter shows as a hang-up or an error on the open port.
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void Ds2480bBackend::Release() {
  if (fd_ >= 0 && !broken_ && pullup_) EndPullup();
  primed_ = false;
}

bool Ds2480bBackend::Open() {
  // Detected before and in step since: nothing to do.
  if (KeptOpen()) return true;
  Close();
  broken_ = false;
  error_.clear();
  fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    const int err = errno;
    broken_ = true;
    error_ = "DS2480B: " + OpenFailureText(device_, err);
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    Fail(kTmexErrNotOpen, "in use by another program");
    Close();
    return false;
  }
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) {
    Fail(kTmexErrNotOpen, std::string("not a serial device: ") + std::strerror(errno));
    Close();
    return false;
  }
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CRTSCTS | PARENB | CSTOPB);
  t.c_iflag |= IGNBRK | IGNPAR;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B9600);
  ::cfsetospeed(&t, B9600);
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
    Fail(kTmexErrNotOpen, std::string("cannot set 9600 8N1: ") + std::strerror(errno));
    Close();
    return false;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (Detect()) return true;
  }
  Close();
  broken_ = true;
  return false;
}

bool Ds2480bBackend::Detect() {
  broken_ = false;
  // Leave data mode and any pull-up, then a break (a master reset on a
  // real chip) and the calibration byte; whatever comes back is dropped.
  uint8_t leave[2] = {0xE3, 0xF1};
  if (::write(fd_, leave, 2) != 2) {
    Fail(kTmexErrIo, std::string("write failed: ") + std::strerror(errno));
    return false;
  }
  Pause(3);
  ::ioctl(fd_, TIOCSBRK);
  Pause(3);
  ::ioctl(fd_, TIOCCBRK);
  Pause(2);
  ::tcflush(fd_, TCIOFLUSH);
  uint8_t cal = 0xC1;
  if (::write(fd_, &cal, 1) != 1) {
    Fail(kTmexErrIo, std::string("write failed: ") + std::strerror(errno));
    return false;
  }
  Pause(5);
  ::tcflush(fd_, TCIFLUSH);
  dataMode_ = false;
  pullup_ = primed_ = false;
  // PDSRC 1.37 V/us, W1LT 10 us, DSO 8 us, SPUD infinite, read RBR, one bit.
  std::vector<uint8_t> rx;
  if (Exchange({0x17, 0x45, 0x5B, 0x3F, 0x0F, 0x91}, 6, rx) < 0) {
    error_ = "DS2480B on " + device_ + ": no adapter answers (" + error_ + ")";
    return false;
  }
  const uint8_t want[5] = {0x16, 0x44, 0x5A, 0x3E, 0x00};
  for (int i = 0; i < 5; ++i) {
    if (rx[i] != want[i]) {
      Fail(kTmexErrBadResponse, "not a DS2480B (configuration read-back wrong)");
      return false;
    }
  }
  if ((rx[5] & 0xF0) != 0x90 || (rx[5] & 0x0C) != 0) {
    Fail(kTmexErrBadResponse, "not a DS2480B (bit response wrong)");
    return false;
  }
  return true;
}

void Ds2480bBackend::Close() {
  if (fd_ < 0) return;
  if (!broken_ && pullup_) EndPullup();
  ::close(fd_);
  fd_ = -1;
}

int Ds2480bBackend::Exchange(const std::vector<uint8_t>& tx, size_t n, std::vector<uint8_t>& rx) {
  if (fd_ < 0) return Fail(kTmexErrNotOpen, "adapter not open");
  size_t done = 0;
  while (done < tx.size()) {
    ssize_t w = ::write(fd_, tx.data() + done, tx.size() - done);
    if (w < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 10);
        continue;
      }
      return Fail(kTmexErrIo, std::string("write failed: ") + std::strerror(errno));
    }
    done += static_cast<size_t>(w);
  }
  sent_ += static_cast<long>(tx.size());
  ++trips_;
  rx.assign(n, 0);
  size_t got = 0;
  auto deadline = std::chrono::steady_clock::now() + Ms(timeoutMs_);
  while (got < n) {
    auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return Fail(kTmexErrTimeout, "no answer (timeout)");
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Fail(kTmexErrIo, std::string("poll failed: ") + std::strerror(errno));
    if (r == 0) continue;
    if (p.revents & (POLLERR | POLLNVAL)) return Fail(kTmexErrIo, "device gone");
    ssize_t k = ::read(fd_, rx.data() + got, n - got);
    if (k < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (k <= 0) return Fail(kTmexErrIo, "device gone (unplugged?)");
    got += static_cast<size_t>(k);
  }
  received_ += static_cast<long>(n);
  return 0;
}

void Ds2480bBackend::ToCommand(std::vector<uint8_t>& tx) {
  if (dataMode_) tx.push_back(0xE3);
  dataMode_ = false;
}

void Ds2480bBackend::ToData(std::vector<uint8_t>& tx) {
  if (!dataMode_) tx.push_back(0xE1);
  dataMode_ = true;
}

int Ds2480bBackend::EndPullup() {
  std::vector<uint8_t> tx, rx;
  ToCommand(tx);
  tx.push_back(0xF1);
  pullup_ = false;
  if (int e = Exchange(tx, 1, rx); e < 0) return e;
  if ((rx[0] & 0xE0) != 0xE0) return Fail(kTmexErrBadResponse, "pull-up did not end cleanly");
  return 0;
}

int Ds2480bBackend::Begin() {
  if (broken_) return Fail(kTmexErrOutOfStep, "adapter out of step after an earlier fault");
  if (pullup_) {
    if (int e = EndPullup(); e < 0) return e;
  }
  primed_ = false;
  // A new transaction: whatever stray bytes came in since are not answers.
  ::tcflush(fd_, TCIFLUSH);
  return 0;
}

int Ds2480bBackend::ResetResult(uint8_t answer) {
  if ((answer & 0xC0) != 0xC0) return Fail(kTmexErrBadResponse, "bad reset response");
  switch (answer & 3) {
    case 0: return Fail(kTmexErrBusShort, "1-Wire line shorted");
    case 1: return 1;
    case 2: return 2;
    default: return 0;
  }
}

void Ds2480bBackend::AddData(std::vector<uint8_t>& tx, const uint8_t* data, size_t len) {
  ToData(tx);
  for (size_t i = 0; i < len; ++i) {
    tx.push_back(data[i]);
    if (data[i] == 0xE3) tx.push_back(0xE3);
  }
}

int Ds2480bBackend::TakeEchoes(const std::vector<uint8_t>& rx, size_t from, uint8_t* data, size_t len,
                               size_t* good) {
  for (size_t i = 0; i < len; ++i) {
    if (rx[from + i] & ~data[i]) {
      if (good) *good = i;
      return Fail(kTmexErrBadResponse, "echo does not match the byte sent");
    }
  }
  for (size_t i = 0; i < len; ++i) data[i] = rx[from + i];
  if (good) *good = len;
  return static_cast<int>(len);
}

int Ds2480bBackend::Reset() {
  if (int e = Begin(); e < 0) return e;
  std::vector<uint8_t> tx, rx;
  ToCommand(tx);
  tx.push_back(0xC1 | kFlex);
  if (int e = Exchange(tx, 1, rx); e < 0) return e;
  return ResetResult(rx[0]);
}

int Ds2480bBackend::ResetThenBlock(uint8_t* data, size_t len) {
  if (int e = Begin(); e < 0) return e;
  // The chip answers the reset and echoes every byte, presence or not.
  std::vector<uint8_t> tx, rx;
  ToCommand(tx);
  tx.push_back(0xC1 | kFlex);
  AddData(tx, data, len);
  if (int e = Exchange(tx, 1 + len, rx); e < 0) return e;
  const int r = ResetResult(rx[0]);
  if (r != 1 && r != 2) return r;
  if (int e = TakeEchoes(rx, 1, data, len, nullptr); e < 0) return e;
  return r;
}

int Ds2480bBackend::TouchBlock(uint8_t* data, size_t len, size_t* good) {
  if (good) *good = 0;
  // Refused even when empty: a caller must not take a broken adapter for good.
  if (broken_) return Fail(kTmexErrOutOfStep, "adapter out of step after an earlier fault");
  // A primed pull-up needs its byte as single bits: byte by byte then.
  if (primed_) return BusBackend::TouchBlock(data, len, good);
  if (pullup_) {
    if (int e = EndPullup(); e < 0) return e;
  }
  if (len == 0) return 0;
  std::vector<uint8_t> tx, rx;
  AddData(tx, data, len);
  if (int e = Exchange(tx, len, rx); e < 0) return e;
  return TakeEchoes(rx, 0, data, len, good);
}

int Ds2480bBackend::TouchByte(uint8_t byte) {
  if (broken_) return Fail(kTmexErrOutOfStep, "adapter out of step after an earlier fault");
  if (pullup_) {
    if (int e = EndPullup(); e < 0) return e;
  }
  std::vector<uint8_t> tx, rx;
  if (primed_) {
    // Strong pull-up right after the last bit: eight single-bit commands,
    // the last with the pull-up flag (SPUD is infinite).
    primed_ = false;
    ToCommand(tx);
    for (int i = 0; i < 8; ++i)
      tx.push_back(static_cast<uint8_t>(0x81 | kFlex | (((byte >> i) & 1) << 4) | (i == 7 ? 2 : 0)));
    if (int e = Exchange(tx, 8, rx); e < 0) return e;
    pullup_ = true;
    int value = 0;
    for (int i = 0; i < 8; ++i) {
      // As for a single bit: a 0 sent cannot come back as 1.
      if ((rx[i] & 0xFC) != (tx[tx.size() - 8 + i] & 0xFC) || ((rx[i] & 3) != 0 && (rx[i] & 3) != 3) ||
          (!((byte >> i) & 1) && (rx[i] & 3)))
        return Fail(kTmexErrBadResponse, "bad bit response");
      if (rx[i] & 1) value |= 1 << i;
    }
    return value;
  }
  ToData(tx);
  tx.push_back(byte);
  if (byte == 0xE3) tx.push_back(0xE3);
  if (int e = Exchange(tx, 1, rx); e < 0) return e;
  // The line is a wired AND: a bit sent as 0 cannot come back as 1.
  if (rx[0] & ~byte) return Fail(kTmexErrBadResponse, "echo does not match the byte sent");
  return rx[0];
}

int Ds2480bBackend::TouchBit(int bit) {
  if (broken_) return Fail(kTmexErrOutOfStep, "adapter out of step after an earlier fault");
  if (pullup_) {
    if (int e = EndPullup(); e < 0) return e;
  }
  std::vector<uint8_t> tx, rx;
  ToCommand(tx);
  uint8_t cmd = static_cast<uint8_t>(0x81 | kFlex | (bit ? 0x10 : 0));
  tx.push_back(cmd);
  if (int e = Exchange(tx, 1, rx); e < 0) return e;
  if ((rx[0] & 0xFC) != (cmd & 0xFC) || ((rx[0] & 3) != 0 && (rx[0] & 3) != 3) || (!bit && (rx[0] & 3)))
    return Fail(kTmexErrBadResponse, "bad bit response");
  return (rx[0] & 3) == 3 ? 1 : 0;
}

int Ds2480bBackend::SteeredSearch(const uint8_t rom[8]) { return Search(rom, false); }

int Ds2480bBackend::ResetThenSearch(const uint8_t rom[8]) { return Search(rom, true); }

int Ds2480bBackend::Search(const uint8_t rom[8], bool withReset) {
  if (withReset) {
    if (int e = Begin(); e < 0) return e;
  } else {
    if (broken_) return Fail(kTmexErrOutOfStep, "adapter out of step after an earlier fault");
    if (pullup_) {
      if (int e = EndPullup(); e < 0) return e;
    }
    primed_ = false;
  }
  auto romBit = [rom](int n) { return (rom[n / 8] >> (n % 8)) & 1; };
  // F0 as data, accelerator on, 16 bytes each steering four ROM bits (the
  // direction in the odd bits, the even bits 0), accelerator off. One
  // answer for F0 and one per steering byte; the mode switches and the
  // accelerator commands answer nothing.
  // With a reset first, in the same exchange: it answers one byte more.
  std::vector<uint8_t> tx, rx;
  if (withReset) {
    ToCommand(tx);
    tx.push_back(0xC1 | kFlex);
  }
  ToData(tx);
  tx.push_back(0xF0);
  ToCommand(tx);
  tx.push_back(0xB1 | kFlex);
  ToData(tx);
  for (int k = 0; k < 16; ++k) {
    uint8_t steer = 0;
    for (int j = 0; j < 4; ++j) steer |= static_cast<uint8_t>(romBit(4 * k + j) << (2 * j + 1));
    tx.push_back(steer);
    if (steer == 0xE3) tx.push_back(0xE3);  // cannot happen (even bits 0); kept safe
  }
  ToCommand(tx);
  tx.push_back(0xA1 | kFlex);
  if (int e = Exchange(tx, withReset ? 18 : 17, rx); e < 0) return e;
  if (withReset) {
    const int r = ResetResult(rx[0]);
    if (r != 1 && r != 2) return r;  // nobody there heard the search
    rx.erase(rx.begin());
  }
  if (rx[0] & ~0xF0) return Fail(kTmexErrBadResponse, "echo does not match the byte sent");
  // A bit of F0 pulled low: the chips did not get a clean Search ROM.
  if (rx[0] != 0xF0) return 0;
  // Per ROM bit: d (bit 2j) is 1 on a conflict or when nobody answered,
  // r' (bit 2j+1) is the path taken: the direction sent on a conflict, the
  // chips' bit otherwise, 1 when nobody answered.
  bool same = true;
  bool lastNobody = false;
  for (int n = 0; n < 64; ++n) {
    const uint8_t a = rx[1 + n / 4];
    const int d = (a >> (2 * (n % 4))) & 1;
    const int taken = (a >> (2 * (n % 4) + 1)) & 1;
    // On a conflict the adapter takes the direction sent, and nobody
    // answering gives 1: a conflict that went to 0 against a 1 sent is
    // an answer no adapter gives.
    if (d && !taken && romBit(n))
      return Fail(kTmexErrBadResponse, "search answer does not match the directions sent");
    if (taken != romBit(n)) same = false;
    if (n == 63) lastNobody = d && taken;
  }
  // d and r' both 1 on the last bit: nobody answered there (two chips that
  // differ only in the last bit cannot both carry a valid CRC), so no chip
  // took part in the whole search, even if the 1s happen to match.
  if (lastNobody) return 0;
  return same ? 1 : 0;
}

int Ds2480bBackend::SetLevel(int level, bool primeOnByte) {
  if (broken_) return Fail(kTmexErrOutOfStep, "adapter out of step after an earlier fault");
  if (level == 0) {
    primed_ = false;
    if (pullup_) {
      if (int e = EndPullup(); e < 0) return e;
    }
    return 0;
  }
  if (primeOnByte) {
    primed_ = true;
    return 1;
  }
  if (pullup_) return 1;
  std::vector<uint8_t> tx;
  ToCommand(tx);
  tx.push_back(0xED);
  if (::write(fd_, tx.data(), tx.size()) != static_cast<ssize_t>(tx.size()))
    return Fail(kTmexErrIo, std::string("write failed: ") + std::strerror(errno));
  sent_ += static_cast<long>(tx.size());
  pullup_ = true;
  return 1;
}

std::string ResolveSerialDevice(int port, const std::optional<std::string>& override,
                                const std::function<bool(const std::string&)>& exists) {
  if (override && !override->empty()) return *override;
  auto has = exists ? exists : [](const std::string& p) {
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0;
  };
  int n = port >= 1 && port <= 9 ? port - 1 : 0;
  std::string usb = "/dev/ttyUSB" + std::to_string(n);
  if (has(usb)) return usb;
  return "/dev/ttyS" + std::to_string(n);
}

BackendFactory MakeSerialBackendFactory(std::optional<std::string> deviceOverride) {
  return [deviceOverride](int port, int type) -> std::unique_ptr<BusBackend> {
    if (type != 5) return nullptr;
    return std::make_unique<Ds2480bBackend>(ResolveSerialDevice(port, deviceOverride));
  };
}

}  // namespace wx
