// A scripted Ui for tests: records every modal text, answers input boxes from
// a queue, and runs a fake message loop on a FakeClock. ProcessMessages moves
// the clock on by `pumpStepMs` and, when a timer tick is due, delivers it to
// the attached WindowEvents (so re-entry through pumping is exercised).
#pragma once
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/window_events.h"
#include "platform/clock.h"
#include "platform/ui.h"

namespace wx::test {

class FakeUi : public Ui {
 public:
  explicit FakeUi(FakeClock& clock) : clock_(clock) {}

  void Attach(WindowEvents* events, const MainView* mainView) {
    events_ = events;
    mainView_ = mainView;
    nextTickAt_ = clock_.GetTickCount() + 800;
  }

  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowMessageAt(const std::string& text, int x, int y) override {
    messages.push_back(text);
    lastMessageX = x;
    lastMessageY = y;
  }
  std::string InputBox(const std::string& caption, const std::string& prompt,
                       const std::string& defaultText) override {
    inputCaptions.push_back(caption);
    (void)prompt;
    if (inputAnswers.empty()) return defaultText;
    std::string a = inputAnswers.front();
    inputAnswers.pop_front();
    return a;
  }
  DialogAnswer AskYesNoCancel(const std::string& text, int, int) override {
    messages.push_back(text);
    if (yesNoAnswers.empty()) return DialogAnswer::Cancel;
    DialogAnswer a = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return a;
  }
  void ProcessMessages() override {
    ++pumps;
    if (throwOnPump) throw std::runtime_error("injected fault while pumping");
    clock_.AdvanceMs(pumpStepMs);
    DeliverDueTick();
  }
  void Terminate() override { terminated = true; }
  bool TerminateRequested() const override { return terminated; }
  void Refresh() override { ++refreshes; }
  void ErrorLineAdded(const std::string& line) override { errorLines.push_back(line); }
  void GiveFocus(FocusTarget target) override { focused.push_back(target); }
  bool ShowHelp(const std::string& path) override {
    helpShown.push_back(path);
    return helpViewerWorks;
  }

  // Runs the loop until the next timer tick is delivered (one cycle attempt).
  void RunOneTick() {
    const uint32_t now = clock_.GetTickCount();
    if (static_cast<int32_t>(nextTickAt_ - now) > 0) clock_.AdvanceMs(nextTickAt_ - now);
    DeliverDueTick();
  }

  std::vector<std::string> messages;
  std::vector<std::string> errorLines;
  std::vector<std::string> inputCaptions;
  std::vector<std::string> helpShown;
  std::vector<FocusTarget> focused;
  bool helpViewerWorks = true;
  std::deque<std::string> inputAnswers;
  std::deque<DialogAnswer> yesNoAnswers;
  bool terminated = false;
  bool throwOnPump = false;
  int refreshes = 0;
  long pumps = 0;
  long ticksDelivered = 0;
  uint32_t pumpStepMs = 10;
  int lastMessageX = 0, lastMessageY = 0;

 private:
  void DeliverDueTick() {
    if (!events_ || !mainView_ || !mainView_->timerEnabled) return;
    const uint32_t now = clock_.GetTickCount();
    if (static_cast<int32_t>(now - nextTickAt_) < 0) return;
    nextTickAt_ = now + static_cast<uint32_t>(mainView_->timerIntervalMs);
    ++ticksDelivered;
    events_->Timer1Timer();
  }

  FakeClock& clock_;
  WindowEvents* events_ = nullptr;
  const MainView* mainView_ = nullptr;
  uint32_t nextTickAt_ = 0;
};

}  // namespace wx::test
