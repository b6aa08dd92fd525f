// SPDX-License-Identifier: GPL-2.0-or-later
// The error log file and the collapsing of repeated messages in it.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace wx {

// Created with its header line, written one whole line at a time (a short
// write is taken back), and started again with its header when log rotation
// moved it away or left it empty.
class ErrorLogFile {
 public:
  ErrorLogFile();
  ~ErrorLogFile() { Close(); }
  // False when the file cannot be created or opened; Reason() says why.
  bool Open(const std::filesystem::path& path, const std::string& stamp);
  // Writes line and CR LF. On failure the file holds whole lines only.
  bool WriteLine(const std::string& line, const std::string& stamp);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Reason() const { return reason_; }
  // The write(2) used for lines; tests inject short or failed writes.
  using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t size)>;
  void SetWriteFunction(WriteFunction w) { write_ = std::move(w); }

 private:
  bool OpenCurrent(const std::string& stamp);
  bool Append(const std::string& bytes);
  std::filesystem::path path_;
  WriteFunction write_;
  int fd_ = -1;
  std::string reason_;
};

// Keeps an unchanging fault from filling the disk: of a run of the same
// message, the file and standard output get the first, the 10th, 100th,
// 1000th ... and, once it has stopped coming, the last one.
class RepeatCollapser {
 public:
  // The line to write for message shown now as number `number`, or nothing
  // for a repeat that is left out.
  std::optional<std::string> Pass(const std::string& message, uint16_t number, DateTime now,
                                  const std::string& stamp);
  // The closing lines of runs that have stopped (all of them when `all`).
  std::vector<std::string> Ended(DateTime now, bool all = false);

 private:
  struct Run {
    uint64_t count = 0;
    uint16_t firstNumber = 0;
    std::string firstStamp;
    uint16_t lastNumber = 0;
    std::string lastStamp;
    DateTime last = 0;
    DateTime longestGap = 0;
    bool lastWritten = true;
  };
  static std::string Closing(const std::string& message, const Run& run);
  std::map<std::string, Run> runs_;
};

}  // namespace wx
