// SPDX-License-Identifier: GPL-2.0-or-later
// The data log file: created with its two header lines, held open for
// appending, every line on disk before AppendLogLine returns.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "platform/views.h"

namespace wx {

class DataLog {
 public:
  // quitPath: the monitor's quit routine, run when the log cannot be opened.
  DataLog(const FileLocations& files, const PathMapper& paths, const Clock& clock, Ui& ui,
          ErrorSink& errors, MainView& mainView);
  ~DataLog();

  void SetQuitPath(std::function<void()> quit) { quit_ = std::move(quit); }
  void OpenDataLog();
  // Appends one record line (without line end).
  void AppendLogLine(const std::string& line);
  void Close();
  // The button handler "&Insert Comment in Data File".
  void buInsCmntClick();

  bool LogDataToFile = false;
  bool DataLogWriteBusy = false;

  bool IsOpen() const { return fd_ >= 0; }
  // The write(2) used for record lines; tests replace it to inject short or
  // failed writes.
  using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t size)>;
  void SetWriteFunction(WriteFunction w) { write_ = std::move(w); }

 private:
  const FileLocations& files_;
  const PathMapper& paths_;
  const Clock& clock_;
  Ui& ui_;
  ErrorSink& errors_;
  MainView& mainView_;
  std::function<void()> quit_;
  WriteFunction write_;
  int fd_ = -1;
  // Why the last open failed (for the messages).
  int openErrno_ = 0;
  std::string openFailure_;

  bool OpenForAppend();
  // Makes fd_ the file the path names now. Log rotation may have moved the
  // file away or left an empty one: a new log is then started, and header
  // receives its two header lines.
  bool OpenCurrentFile(std::string& header);
  bool WriteAll(const std::string& bytes);
  std::string Shown() const;
};

}  // namespace wx
