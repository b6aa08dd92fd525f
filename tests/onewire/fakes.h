// A Ui whose message pump moves a FakeClock on, and an ErrorSink that keeps
// every message, for driving the device layer and the readers in tests.
#pragma once
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/ui.h"

namespace wx::test {

class PumpingUi : public Ui {
 public:
  explicit PumpingUi(FakeClock& clock, uint32_t msPerPump = 10) : clock_(clock), msPerPump_(msPerPump) {}
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowMessageAt(const std::string& text, int, int) override { messages.push_back(text); }
  std::string InputBox(const std::string&, const std::string&, const std::string& d) override { return d; }
  DialogAnswer AskYesNoCancel(const std::string&, int, int) override { return DialogAnswer::Cancel; }
  void ProcessMessages() override {
    ++pumps;
    clock_.AdvanceMs(msPerPump_);
  }
  void Terminate() override { terminate = true; }
  bool TerminateRequested() const override { return terminate; }
  void Refresh() override {}

  std::vector<std::string> messages;
  int pumps = 0;
  bool terminate = false;

 private:
  FakeClock& clock_;
  uint32_t msPerPump_;
};

class RecordingErrors : public ErrorSink {
 public:
  void ShowError(const std::string& message) override { lines.push_back(message); }
  bool Has(const std::string& part) const {
    for (const auto& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> lines;
};

}  // namespace wx::test
