// SPDX-License-Identifier: GPL-2.0-or-later
// The DS9097U (DS2480B) serial adapter as a BusBackend, over termios.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tmex/bus_backend.h"
#include "tmex/tmex.h"

namespace wx {

class Ds2480bBackend : public BusBackend {
 public:
  // timeoutMs bounds the wait for the answer of one call.
  explicit Ds2480bBackend(std::string device, int timeoutMs = 500);
  ~Ds2480bBackend() override;
  // Opens, configures and detects the adapter; an adapter kept open since
  // the last session is used as it is.
  bool Open() override;
  void Close() override;
  // Keeps the port open and the adapter detected for the next session.
  void Release() override;
  bool KeptOpen() const override;
  int Reset() override;
  int TouchByte(uint8_t byte) override;
  int TouchBit(int bit) override;
  int SetLevel(int level, bool primeOnByte) override;
  // The whole steered search in one exchange, with the search accelerator.
  int SteeredSearch(const uint8_t rom[8]) override;
  // The reset and the search in one exchange.
  int ResetThenSearch(const uint8_t rom[8]) override;
  // A run of bytes in one exchange; every echo is checked.
  int TouchBlock(uint8_t* data, size_t len, size_t* good) override;
  // The reset and the run in one exchange.
  int ResetThenBlock(uint8_t* data, size_t len) override;
  std::string LastError() const override { return error_; }
  const std::string& device() const { return device_; }
  long bytesSent() const { return sent_; }
  long bytesReceived() const { return received_; }
  long roundTrips() const { return trips_; }

 private:
  int Fail(int code, const std::string& what);
  // Writes tx, then reads exactly n bytes into rx within the timeout.
  int Exchange(const std::vector<uint8_t>& tx, size_t n, std::vector<uint8_t>& rx);
  void ToCommand(std::vector<uint8_t>& tx);
  void ToData(std::vector<uint8_t>& tx);
  bool Detect();
  int Search(const uint8_t rom[8], bool withReset);
  int EndPullup();
  // Leaves a pull-up, then a new transaction's flush; 0 or a fault.
  int Begin();
  // The presence answer of a reset: 1, 2, 0 or a fault.
  int ResetResult(uint8_t answer);
  // Data bytes as sent in data mode: $E3 is doubled.
  void AddData(std::vector<uint8_t>& tx, const uint8_t* data, size_t len);
  // The echoes of a run: the line is a wired AND, so a bit sent as 0 cannot
  // come back as 1. Copies them into data; a fault names the first bad byte.
  int TakeEchoes(const std::vector<uint8_t>& rx, size_t from, uint8_t* data, size_t len, size_t* good);

  std::string device_;
  int timeoutMs_;
  int fd_ = -1;
  bool dataMode_ = false;
  bool broken_ = false;
  bool primed_ = false;
  bool pullup_ = false;
  std::string error_;
  long sent_ = 0, received_ = 0, trips_ = 0;
};

// Why a serial device could not be opened, naming it; for a permission
// error, how to get access (the group that owns the device).
std::string OpenFailureText(const std::string& device, int err);

// Serial device for the port digit of the primary file: port n (1..9) is
// /dev/ttyUSB<n-1> when it exists, else /dev/ttyS<n-1>; port 0 is
// /dev/ttyUSB0 when it exists, else /dev/ttyS0. An override wins.
std::string ResolveSerialDevice(int port, const std::optional<std::string>& override,
                                const std::function<bool(const std::string&)>& exists = {});

// Backends for adapter type 5; nullptr for any other type.
BackendFactory MakeSerialBackendFactory(std::optional<std::string> deviceOverride);

}  // namespace wx
