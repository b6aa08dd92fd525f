// SPDX-License-Identifier: GPL-2.0-or-later
// The scripted Ui running a fake message loop on a FakeClock: every pump
// moves the clock on by `pumpStepMs` and, when a timer tick is due, delivers
// it to the attached WindowEvents (so re-entry through pumping is exercised).
#pragma once
#include <cstdint>

#include "app/window_events.h"
#include "platform/clock.h"
#include "support/fakes.h"

namespace wx::test {

class FakeUi : public ScriptedUi {
 public:
  explicit FakeUi(FakeClock& clock) : ScriptedUi(clock), clock_(clock) {}

  void Attach(WindowEvents* events, const MainView* mainView) {
    events_ = events;
    mainView_ = mainView;
    nextTickAt_ = clock_.GetTickCount() + 800;
  }

  void ProcessMessages() override {
    ScriptedUi::ProcessMessages();
    DeliverDueTick();
  }

  // Runs the loop until the next timer tick is delivered (one cycle attempt).
  void RunOneTick() {
    const uint32_t now = clock_.GetTickCount();
    if (static_cast<int32_t>(nextTickAt_ - now) > 0) clock_.AdvanceMs(nextTickAt_ - now);
    DeliverDueTick();
  }

  long ticksDelivered = 0;

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
