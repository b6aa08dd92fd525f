// SPDX-License-Identifier: GPL-2.0-or-later
// The one set of test doubles, for the unit tests, the benches and the fuzz
// targets alike (no test framework needed): a scripted Ui that keeps every
// dialog, answers input boxes and questions from queues and moves a clock on
// as it pumps, an ErrorSink that keeps every message, a clock that other
// threads may read, a private temporary folder, and a whole-file reader. The
// monitor-level loop with timer ticks is FakeUi (support/fake_ui.h).
#pragma once
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/ui.h"

namespace wx::test {

// A clock that moves when told to and, made with RealTime, with the host's
// steady clock too. Both readings are atomic, so an emulated adapter's server
// thread may read it while the program waits.
class SharedClock : public Clock {
 public:
  enum Base { Stopped, RealTime };
  explicit SharedClock(Base base = Stopped) : realTime_(base == RealTime) {}
  DateTime Now() const override { return 46363.5 + GetTickCount() / 86400000.0; }  // from 7 Dec 2026 12:00
  uint32_t GetTickCount() const override {
    int64_t ms = moved_.load();
    if (realTime_)
      ms += std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
                .count();
    return static_cast<uint32_t>(1000 + ms);
  }
  void AdvanceMs(uint32_t ms) { moved_ += ms; }

 private:
  bool realTime_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::atomic<int64_t> moved_{0};
};

// Records every modal text, answers input boxes and Yes/No/Cancel questions
// from queues (an empty queue gives the default, or Cancel). Given a clock,
// each message pump moves it on by pumpStepMs, and a wait by one pump or,
// with waitsToDeadline, by the whole time asked for (a sleep that no message
// cut short).
class ScriptedUi : public Ui {
 public:
  ScriptedUi() = default;
  template <class AnyClock>  // FakeClock or SharedClock
  explicit ScriptedUi(AnyClock& clock, uint32_t msPerPump = 10)
      : pumpStepMs(msPerPump), advance_([&clock](uint32_t ms) { clock.AdvanceMs(ms); }) {}

  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    dialogs.push_back("msg:" + text);
  }
  void ShowMessageAt(const std::string& text, int x, int y) override {
    ShowMessage(text);
    lastMessageX = x;
    lastMessageY = y;
  }
  std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& d) override {
    inputCaptions.push_back(caption);
    inputPrompts.push_back(prompt);
    dialogs.push_back("input:" + caption);
    if (duringInput) duringInput();
    if (inputs.empty()) return d;
    std::string a = inputs.front();
    inputs.pop_front();
    return a;
  }
  DialogAnswer AskYesNoCancel(const std::string& text, int x, int y) override {
    messages.push_back(text);
    dialogs.push_back("ask:" + text + "@" + std::to_string(x) + "," + std::to_string(y));
    if (yesNoAnswers.empty()) return DialogAnswer::Cancel;
    DialogAnswer a = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return a;
  }
  void ProcessMessages() override {
    ++pumps;
    if (throwOnPump) throw std::runtime_error("injected fault while pumping");
    Advance(pumpStepMs);
  }
  // A sleeping wait, recorded with the time asked for.
  void WaitMessages(uint32_t ms) override {
    waitRequests.push_back(ms);
    if (duringWait) duringWait();
    if (waitsToDeadline)
      Advance(ms);
    else
      ProcessMessages();
  }
  void Terminate() override { ++terminateCalls; }
  bool TerminateRequested() const override { return terminateCalls > 0; }
  void Refresh() override { ++refreshes; }
  void ErrorLineAdded(const std::string& line) override { errorLines.push_back(line); }
  void GiveFocus(FocusTarget target) override { focused.push_back(target); }
  bool ShowHelp(const std::string& path) override {
    helpShown.push_back(path);
    return helpViewerWorks;
  }

  std::vector<std::string> messages, inputCaptions, inputPrompts, errorLines, helpShown;
  std::vector<std::string> dialogs;  // every dialog in order: "msg:", "input:" or "ask:" and its text
  std::vector<FocusTarget> focused;
  std::deque<std::string> inputs;  // answers of InputBox in order; empty = the default
  std::deque<DialogAnswer> yesNoAnswers;
  std::function<void()> duringInput;
  std::vector<uint32_t> waitRequests;
  std::function<void()> duringWait;
  bool helpViewerWorks = true;
  bool throwOnPump = false;
  bool waitsToDeadline = false;
  int terminateCalls = 0;
  int pumps = 0;
  int refreshes = 0;
  int lastMessageX = 0, lastMessageY = 0;
  uint32_t pumpStepMs = 10;

 protected:
  void Advance(uint32_t ms) {
    if (advance_) advance_(ms);
  }

 private:
  std::function<void(uint32_t)> advance_;
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

// A fresh private folder, removed with everything in it when it goes. In
// memory, it is made in /dev/shm where there is one (no disk writes).
class TempDir {
 public:
  enum Where { TempFolder, InMemory };
  explicit TempDir(Where where = TempFolder) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (where == InMemory && std::filesystem::is_directory("/dev/shm", ec)) base = "/dev/shm";
    std::string tmpl = (base / "wx118test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path Write(const std::filesystem::path& relative, std::string_view content) const {
    const std::filesystem::path p = path_ / relative;
    std::error_code ec;
    std::filesystem::create_directories(p.parent_path(), ec);
    std::ofstream(p, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace wx::test
