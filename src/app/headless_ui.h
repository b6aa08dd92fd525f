// SPDX-License-Identifier: GPL-2.0-or-later
// The front end for running without a display (service mode, end-to-end
// tests): modal messages go to stderr, error-window lines to stdout, and
// every question takes its default answer.
#pragma once
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "platform/views.h"

namespace wx {

// One line of text from a message with "\r"/"\n" breaks: breaks become " / ".
std::string JoinMessageLines(const std::string& text);

class HeadlessUi : public FrontEnd {
 public:
  explicit HeadlessUi(Views& views, double timeScale = 1.0);
  void Attach(WindowEvents& events) override { events_ = &events; }
  int Exec() override;

  void ShowMessage(const std::string& text) override;
  void ShowMessageAt(const std::string& text, int x, int y) override;
  std::string InputBox(const std::string& caption, const std::string& prompt,
                       const std::string& defaultText) override;
  DialogAnswer AskYesNoCancel(const std::string& text, int x, int y) override;
  void ProcessMessages() override;
  void WaitMessages(uint32_t ms) override;
  void Terminate() override;
  bool TerminateRequested() const override { return terminate_; }
  void Refresh() override;
  void ErrorLineAdded(const std::string& line) override;

  const QTimer& Timer() const { return timer_; }

 private:
  Views& views_;
  double timeScale_;
  WindowEvents* events_ = nullptr;
  bool terminate_ = false;
  bool stdoutGone_ = false;
  QTimer timer_;
};

// Handles pending events, then sleeps in the event loop until the next one
// or until realMs have passed. Both front ends wait through it.
void WaitForEvents(int realMs);
// Real milliseconds for ms of a clock running timeScale times faster,
// rounded up so that the wait does not end just short of its deadline.
int RealMs(uint32_t ms, double timeScale);

}  // namespace wx
