// SPDX-License-Identifier: GPL-2.0-or-later
// A DS2480B (Ds2480bEmulator) answering on a pseudo-terminal: the slave side
// is the "serial port" a master opens. Single-threaded: the owner calls
// Serve() in its loop (or from one worker thread).
//
// Line events a pty can show stand in for what a real port would do:
// - every master closing the port drops DTR/RTS, which powers a DS9097U, so
//   the next open finds a freshly powered chip (master reset);
// - a break is invisible on a pty, but masters flush the port right after
//   one; a C1 after a flush is taken as the calibration byte of a master
//   reset (see Ds2480bEmulator::LineFlushed);
// - a NUL sent at a rate below 9600 baud (the master's termios) is a master
//   reset, as on the chip.
#pragma once
#include <atomic>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tmex/ds2480b/emulator.h"
#include "tmex/sim/slot_bus.h"

namespace wx {

class Ds2480bPty {
 public:
  enum class Result { kIdle, kServed, kInterrupted, kFailed };
  // Bytes in ('>') from the master and out ('<') to it, for a trace.
  using Trace = std::function<void(char direction, const std::vector<uint8_t>& bytes)>;

  explicit Ds2480bPty(SlotBus& bus);
  ~Ds2480bPty();
  Ds2480bPty(const Ds2480bPty&) = delete;
  Ds2480bPty& operator=(const Ds2480bPty&) = delete;

  // Creates the pseudo-terminal; false with a reason in error().
  bool Open();
  // Closes the pty: the master's port goes dead (reads fail), as an unplug.
  void Close();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& slavePath() const { return slave_; }
  const std::string& error() const { return error_; }

  // Waits up to timeoutMs for traffic and answers all of it. With a mask,
  // the wait runs under it (ppoll), so a signal blocked outside can end it
  // (kInterrupted).
  Result Serve(int timeoutMs, const sigset_t* waitMask = nullptr);

  // false: bytes are taken in but nothing is answered (a dead adapter).
  // May be called from another thread while Serve() runs.
  void SetAnswering(bool on) { answering_ = on; }
  void SetTrace(Trace t) { trace_ = std::move(t); }
  // Sees (and may change) every answer before it goes out: line faults.
  using ReplyFilter = std::function<void(std::vector<uint8_t>& reply)>;
  void SetReplyFilter(ReplyFilter f) { filter_ = std::move(f); }
  // A wire instead of an instant pty: every answer waits for its exchange's
  // bytes to cross the line at the master's baud rate (10 bits a byte, the
  // request's and the answer's) when byteTime is set, plus latencyMs, as the
  // latency timer of a USB serial converter adds to every answered write.
  void SetWireTiming(bool byteTime, int latencyMs) {
    byteTime_ = byteTime;
    latencyMs_ = latencyMs < 0 ? 0 : latencyMs;
  }
  // Whether a master has the port open, as last seen by Serve().
  bool portOpen() const { return !hungUp_; }
  // Baud rate the master set on its side of the line (0 if unknown).
  int MasterBaud() const;
  Ds2480bEmulator& emulator() { return emu_; }
  // Times a closed port was opened again (each a master reset).
  int reopens() const { return reopens_; }
  long bytesIn() const { return in_; }
  long bytesOut() const { return out_; }

 private:
  Result ReadAll();
  bool WriteAll(const std::vector<uint8_t>& bytes);

  Ds2480bEmulator emu_;
  int fd_ = -1;
  std::string slave_;
  std::string error_;
  std::atomic<bool> answering_{true};
  std::atomic<bool> hungUp_{true};  // nobody has the port open yet
  std::atomic<int> reopens_{0};
  long in_ = 0, out_ = 0;
  Trace trace_;
  ReplyFilter filter_;
  bool byteTime_ = false;
  int latencyMs_ = 0;
};

}  // namespace wx
