// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/headless_ui.h"
#include "platform/signals.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdlib>
#include <unistd.h>
#include <gtest/gtest.h>

namespace wx {
namespace {

TEST(HeadlessUiTest, MessagesBecomeOneStderrLineAndQuestionsTakeDefaults) {
  Views views;
  HeadlessUi ui(views);
  testing::internal::CaptureStderr();
  ui.ShowMessage("line one\rline two\r\nthree\nfour");
  ui.ShowMessageAt("\rat", 10, 60);
  EXPECT_EQ(ui.AskYesNoCancel("sure?", 0, 0), DialogAnswer::Cancel);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "wx118: line one / line two / three / four\nwx118:  / at\nwx118: sure?\n");
  EXPECT_EQ(ui.InputBox("Comment", "Type", "keep me"), "keep me");
  EXPECT_EQ(JoinMessageLines("a\r\rb"), "a /  / b");

  testing::internal::CaptureStdout();
  ui.ErrorLineAdded("1: Sensor not found 12:00");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "1: Sensor not found 12:00\n");
}

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

long MsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
      .count();
}

TEST(HeadlessUiTest, WaitSleepsUntilAnEventOrTheDeadline) {
  Views views;
  HeadlessUi ui(views, 2.0);  // the program's clock runs twice as fast
  QCoreApplication::processEvents();
  auto t0 = std::chrono::steady_clock::now();
  const double cpu0 = ThreadCpuMs();
  ui.WaitMessages(600);
  EXPECT_GE(MsSince(t0), 295);
  EXPECT_LT(ThreadCpuMs() - cpu0, 100.0);  // asleep, not polling the loop
  // An event ends the wait early and is handled inside it.
  bool fired = false;
  QTimer::singleShot(20, [&] { fired = true; });
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 5 && !fired; ++i) ui.WaitMessages(60000);
  EXPECT_TRUE(fired);
  EXPECT_LT(MsSince(t0), 10000);
}

class Ticks : public WindowEvents {
 public:
  int ticks = 0, quits = 0;
  std::function<void()> onTick;
  void Timer1Timer() override {
    ++ticks;
    if (onTick) onTick();
  }
  void buQuitClick() override { ++quits; }
  void buCorFClick() override {}
  void buInsCmntClick() override {}
  void buCommentInHTMLClick() override {}
  void buHelpClick() override {}
  void buCopyrightClick() override {}
  void SchemeA1Click() override {}
  void SchemeB1Click() override {}
  void Overview1Click() override {}
  void Legacy1Click() override {}
  void Modern1Click() override {}
  void FormResize(WindowState) override {}
  void FormClose() override {}
};

TEST(HeadlessUiTest, TimerFollowsTheViewsAndTerminateEndsIt) {
  Views views;
  views.main.timerIntervalMs = 800;
  HeadlessUi ui(views, 80.0);
  Ticks events;
  ui.Attach(events);
  ui.Refresh();
  EXPECT_FALSE(ui.Timer().isActive());
  views.main.timerEnabled = true;
  ui.Refresh();
  EXPECT_EQ(ui.Timer().interval(), 10);
  QEventLoop loop;
  events.onTick = [&] { loop.quit(); };
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);  // bound only
  loop.exec();
  EXPECT_GE(events.ticks, 1);
  ui.Terminate();
  EXPECT_TRUE(ui.TerminateRequested());
  ui.Refresh();  // a later redraw does not bring the cycle back
  EXPECT_FALSE(ui.Timer().isActive());
  EXPECT_EQ(ui.Exec(), 0);  // returns at once once told to end
}

TEST(QuitSignalsTest, SigtermSigintAndSighupCallQuitOnTheEventLoop) {
  int calls = 0;
  QEventLoop* loop = nullptr;
  InstallQuitOnSignals([&] {
    ++calls;
    if (loop) loop->quit();
  });
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    QEventLoop l;
    loop = &l;
    const int before = calls;
    ASSERT_EQ(::raise(sig), 0);
    EXPECT_EQ(calls, before);  // not from inside the handler
    QTimer::singleShot(5000, &l, &QEventLoop::quit);
    l.exec();
    EXPECT_EQ(calls, before + 1) << "signal " << sig;
  }
  loop = nullptr;
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGALRM}) signal(sig, SIG_DFL);
}

TEST(QuitSignalsDeathTest, StartUpAndHungWaitsStillEnd) {
  // Before the quit path exists nothing is open: the program ends at once.
  EXPECT_EXIT(
      {
        CatchQuitSignalsEarly();
        ::raise(SIGTERM);
        std::_Exit(9);
      },
      ::testing::ExitedWithCode(0), "");
  // A quit that never gets back to the event loop (a read that hangs).
  EXPECT_EXIT(
      {
        InstallQuitOnSignals([] {}, 1);
        ::raise(SIGINT);
        for (;;) ::pause();
      },
      ::testing::ExitedWithCode(3), "did not finish in time");
}

}  // namespace
}  // namespace wx
