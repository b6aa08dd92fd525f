// The test doubles shared by the unit tests: a scripted Ui that keeps every
// modal text, answers input boxes from a queue and counts Terminate calls
// (given a FakeClock, its message pump moves the clock on), an ErrorSink that
// keeps every message, and a temporary folder per test. The monitor-level
// loop with timer ticks is FakeUi (support/fake_ui.h).
#pragma once
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/ui.h"

namespace wx::test {

class ScriptedUi : public Ui {
 public:
  ScriptedUi() = default;
  explicit ScriptedUi(FakeClock& clock, uint32_t msPerPump = 10) : clock_(&clock), msPerPump_(msPerPump) {}

  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowMessageAt(const std::string& text, int, int) override { messages.push_back(text); }
  std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& d) override {
    inputCaptions.push_back(caption);
    inputPrompts.push_back(prompt);
    if (duringInput) duringInput();
    if (inputs.empty()) return d;
    std::string a = inputs.front();
    inputs.pop_front();
    return a;
  }
  DialogAnswer AskYesNoCancel(const std::string&, int, int) override { return DialogAnswer::Cancel; }
  void ProcessMessages() override {
    ++pumps;
    if (clock_) clock_->AdvanceMs(msPerPump_);
  }
  // A sleeping wait, recorded with the time asked for; the clock then moves
  // as one pump does.
  void WaitMessages(uint32_t ms) override {
    waitRequests.push_back(ms);
    if (duringWait) duringWait();
    ProcessMessages();
  }
  void Terminate() override { ++terminateCalls; }
  bool TerminateRequested() const override { return terminateCalls > 0; }
  void Refresh() override {}

  std::vector<std::string> messages, inputCaptions, inputPrompts;
  std::deque<std::string> inputs;  // answers of InputBox in order; empty = the default
  std::function<void()> duringInput;
  std::vector<uint32_t> waitRequests;
  std::function<void()> duringWait;
  int terminateCalls = 0;
  int pumps = 0;

 private:
  FakeClock* clock_ = nullptr;
  uint32_t msPerPump_ = 10;
};

class RecordingErrors : public ErrorSink {
 public:
  void ShowError(const std::string& message) override { errors.push_back(message); }
  bool Has(const std::string& part) const {
    for (const auto& e : errors)
      if (e.find(part) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> errors;
};

// A fresh folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("wx118test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path Write(const std::string& name, const std::string& content) const {
    const auto p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace wx::test
