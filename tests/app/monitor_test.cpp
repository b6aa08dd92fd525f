// SPDX-License-Identifier: GPL-2.0-or-later
// The monitor as a whole on a fake clock and a scripted Ui: the start-up
// order, the schedule, messages and the error log, quitting and layouts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/monitor.h"
#include "datalog/stamps.h"
#include "platform/exit_status.h"
#include "support/fake_ui.h"
#include "support/monitor_fixture.h"

namespace wx {
namespace {

using test::MonitorFixture;

TEST_F(MonitorFixture, FirstTickRunsIdleSlotOneAndShowsCycleTwo) {
  WriteStation({});  // every channel disabled
  Start();
  EXPECT_EQ(monitor->views.main.laMsgs.text,
            "One moment please while first \"wait\" cycle completes...");
  ui->RunOneTick();
  EXPECT_EQ(monitor->views.main.laCycle.text, "2");
  EXPECT_EQ(monitor->views.main.laMsgs.text, Monitor::AttributionText());
  EXPECT_EQ(monitor->views.main.laTOD.text, "12:00:00        7/12/2026");
}

// The line after the graph on the page written at start-up.
std::string LineAfterGraph(const std::string& page) {
  std::istringstream in(page);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("<center><img src=", 0) == 0 && std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
  return "(no graph line)";
}

TEST_F(MonitorFixture, PageCarriesThePlaceholderUntilAMessageIsConfigured) {
  WriteStation({});
  Start();
  const std::string placeholder = LineAfterGraph(ReadFile(PagePath()));
  EXPECT_EQ(placeholder.rfind("<br><br>(", 0), 0u) << placeholder;
  EXPECT_DOUBLE_EQ(monitor->settings.page.pageMessageExpiry, 0);
  // A secondary file without [HTMLMsg] keeps it; one with a message replaces it.
  Settings2("[swg]\r\nhsi=60\r\n");
  Restart();
  EXPECT_EQ(LineAfterGraph(ReadFile(PagePath())), placeholder);
  Settings2("[HTMLMsg]\r\nMsg=Gauge cleaned\r\n");
  Restart();
  EXPECT_EQ(LineAfterGraph(ReadFile(PagePath())), "<br><br>Gauge cleaned");
}

TEST_F(MonitorFixture, TimeOfDayPadsHourAndDateWithBlanks) {
  clock.SetNow(*EncodeDateTime(2026, 12, 7, 9, 5, 2, 200));
  WriteStation({});
  Start();
  ui->RunOneTick();
  EXPECT_EQ(monitor->views.main.laTOD.text.substr(0, 8), " 9:05:03");
  EXPECT_EQ(monitor->views.main.laTOD.text.substr(8), "        7/12/2026");
}

TEST_F(MonitorFixture, DisabledStationStillCountsAndWritesNoPageWithoutT0) {
  WriteStation({});
  Start();
  const auto page = PagePath();
  std::filesystem::remove(page);
  for (int i = 0; i < 120; ++i) ui->RunOneTick();
  EXPECT_EQ(monitor->CycleCount, 121);
  EXPECT_FALSE(std::filesystem::exists(page)) << "the page is not rewritten before T0 is read";
}

TEST_F(MonitorFixture, ClockJumpCatchesUpOneColumnPerTick) {
  WriteStation({});
  Start();
  ui->RunOneTick();  // first scroll: NextColumnTime was the start time
  EXPECT_EQ(monitor->chart().scrollCounter, 1);
  clock.JumpDays(1.0 / 24);  // an hour: three more columns are due
  ui->RunOneTick();
  EXPECT_EQ(monitor->chart().scrollCounter, 2) << "one column per tick, not all at once";
  for (int i = 0; i < 10; ++i) ui->RunOneTick();
  EXPECT_EQ(monitor->chart().scrollCounter, 4);
  // Back by two hours: the column, page and picture times come back to now,
  // so nothing freezes for two hours.
  clock.JumpDays(-2.0 / 24);
  ui->RunOneTick();
  EXPECT_NEAR(monitor->NextColumnTime, clock.Now(), 1e-6);
  EXPECT_LE(monitor->web().NextPageTime, clock.Now() + monitor->settings.page.pageIntervalDays);
  EXPECT_LE(monitor->web().NextImageTime, clock.Now() + monitor->settings.page.imageIntervalDays);
  clock.AdvanceMs(1000);
  ui->RunOneTick();
  EXPECT_EQ(monitor->chart().scrollCounter, 5);
  // Forward from a clock that started in 1970: the chart is cleared to now
  // in one step instead of scrolling for days.
  monitor->chart().SetPixel(100, 100, 0x0000FF);
  clock.JumpDays(20000);
  ui->RunOneTick();
  EXPECT_NEAR(monitor->chart().referenceTime, clock.Now(), 1e-6);
  EXPECT_EQ(monitor->chart().Bitmap().Pixel(100, 100) & 0xFFFFFF, 0xFFFFFFu);
  const int after = monitor->chart().scrollCounter;
  for (int i = 0; i < 10; ++i) ui->RunOneTick();
  EXPECT_LE(monitor->chart().scrollCounter - after, 1);
}

TEST_F(MonitorFixture, BadOldRecordIsReportedAndTheStationGoesOn) {
  auto chips = AllChannels();
  chips.resize(2);  // T0 and T1
  WriteStation(chips);
  Start();
  for (int i = 0; i < 120; ++i) ui->RunOneTick();
  monitor.reset();
  // One unreadable pressure record in the middle of the log.
  std::string log = ReadDataLog();
  const size_t mid = log.find("\r\n", log.size() / 2) + 2;
  log.insert(mid, "bp" + Stamp(clock.Now() - 0.01) + "02x5\r\n");
  std::ofstream(root / "c" / "WX18DtLg.txt", std::ios::binary) << log;
  for (int run = 0; run < 2; ++run) {
    Restart();
    EXPECT_FALSE(ui->TerminateRequested());
    EXPECT_TRUE(monitor->views.main.timerEnabled);
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_NE(ui->messages[0].find("line "), std::string::npos);
    EXPECT_NE(ui->messages[0].find("The monitor goes on"), std::string::npos);
    logSize = ReadDataLog().size();
    for (int i = 0; i < 120; ++i) ui->RunOneTick();
    int t0 = 0;
    for (const std::string& l : NewLogLines()) t0 += l.rfind("t0", 0) == 0;
    EXPECT_GT(t0, 0) << "readings go on being logged";
  }
  EXPECT_EQ(monitor->ExitStatus(), kExitOk);
}

TEST_F(MonitorFixture, FatalEndsGiveTheirExitStatus) {
  WriteStation({});
  std::filesystem::create_directories(root / "c" / "WX18DtLg.txt");  // cannot be opened as a file
  Start();
  EXPECT_TRUE(ui->TerminateRequested());
  EXPECT_EQ(monitor->ExitStatus(), kExitRunTime);
  std::ofstream(work / "WX118ini.txt") << "not the right first line\r\n";
  Restart();
  EXPECT_EQ(monitor->ExitStatus(), kExitConfig);
}

TEST_F(MonitorFixture, CyclesCommentOnlyAtMultiplesOfSixThousand) {
  WriteStation({});
  Start();
  for (int32_t count : {2000, 4000, 6000, 12000}) {
    monitor->CycleCount = count;
    ui->RunOneTick();
  }
  const std::string log = ReadDataLog();
  EXPECT_EQ(log.find("Cycles since start:2000"), std::string::npos);
  EXPECT_EQ(log.find("Cycles since start:4000"), std::string::npos);
  EXPECT_NE(log.find("(machine generated) Cycles since start:6000\r\n"), std::string::npos);
  EXPECT_NE(log.find("(machine generated) Cycles since start:12000\r\n"), std::string::npos);
}

TEST_F(MonitorFixture, ScheduleReadsEachChannelAtItsRate) {
  WriteStation(AllChannels());
  Start();
  for (int i = 0; i < 60; ++i) ui->RunOneTick();
  const auto& reads = monitor->channels.ChannelReadCount;
  // Cycles 1..60 cover every slot once.
  EXPECT_EQ(reads[0], 2);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(reads[k], 1) << "T" << k;
  EXPECT_EQ(reads[5], 6);
  EXPECT_EQ(reads[6], 6);
  EXPECT_EQ(reads[7], 2);
  EXPECT_EQ(reads[11], 1);
  EXPECT_EQ(reads[12], 1);
}

TEST_F(MonitorFixture, TicksArrivingDuringAReadingAreDropped) {
  WriteStation(AllChannels());
  Start();
  for (int i = 0; i < 5; ++i) ui->RunOneTick();
  // The T0 conversion waits 1800 ms, pumping messages: the ticks that came
  // meanwhile found the cycle busy and were lost; none ran a second cycle.
  EXPECT_GT(ui->ticksDelivered, 5);
  EXPECT_EQ(monitor->CycleCount, 6);
}

TEST_F(MonitorFixture, ExceptionInsideACycleIsReportedAndCyclingGoesOn) {
  WriteStation(AllChannels());
  Start();
  ui->RunOneTick();        // slot 1, idle
  ui->throwOnPump = true;  // slot 2 waits for the T0 conversion and pumps
  ui->RunOneTick();
  ui->throwOnPump = false;
  EXPECT_TRUE(monitor->CycleReady);
  ASSERT_FALSE(ui->errorLines.empty());
  EXPECT_NE(ui->errorLines.back().find("unexpected error"), std::string::npos);
  const int32_t before = monitor->CycleCount;
  ui->RunOneTick();
  EXPECT_EQ(monitor->CycleCount, before + 1);
}

TEST_F(MonitorFixture, ErrorNumbersWrapAtSixteenBits) {
  WriteStation({});
  Start();
  monitor->ErrorCount = 65534;
  monitor->ShowError("a");
  monitor->ShowError("b");
  EXPECT_EQ(ui->errorLines[ui->errorLines.size() - 2].rfind("65535: a ", 0), 0u);
  EXPECT_EQ(ui->errorLines.back().rfind("0: b ", 0), 0u);
}

TEST_F(MonitorFixture, ErrorLogHasOneHeaderAndKeepsOldLines) {
  WriteStation({});
  Start();
  monitor->ShowError("first run");
  monitor->buQuitClick();
  Restart();
  monitor->ShowError("second run");
  monitor->buQuitClick();
  const std::string log = ReadErrorLog();
  size_t headers = 0;
  for (size_t at = 0; (at = log.find("WX118 Error log. Created by the program ", at)) != std::string::npos; ++at)
    ++headers;
  EXPECT_EQ(headers, 1u);
  EXPECT_EQ(log.rfind("WX118 Error log. Created by the program 26l07m00\r\n", 0), 0u);
  EXPECT_NE(log.find(": first run "), std::string::npos);
  EXPECT_NE(log.find(": second run "), std::string::npos);
  EXPECT_EQ(monitor->views.errors.window.caption, "Error messages (Being logged to file)");
}

TEST_F(MonitorFixture, UnwritableErrorLogIsReportedOnceAndWindowStillWorks) {
  WriteStation({});
  std::filesystem::create_directories(root);
  std::ofstream(root / "c" ) << "";  // a file where the drive folder should be
  Start();
  int shown = 0;
  for (const auto& m : ui->messages) shown += m.rfind("Unable to establish file to log errors. C:/WX18ErLg.txt (that is ", 0) == 0;
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(monitor->views.errors.window.caption, "Error messages (NOT being logged to file)");
  monitor->ShowError("still shown");
  EXPECT_NE(monitor->views.errors.Memo1.back().find("still shown"), std::string::npos);
}

TEST_F(MonitorFixture, MessagesBeforeTheErrorLogOpenedAreKept) {
  // An enabled temperature line with a counter chip's family code is
  // switched off through ShowError while the error log is not yet open.
  WriteStation({{0, "1D", ""}});
  Start();
  const auto& memo = monitor->views.errors.Memo1;
  ASSERT_GE(memo.size(), 3u);
  EXPECT_EQ(memo[0].rfind("Errors since program last restarted", 0), 0u);
  EXPECT_NE(memo[2].find("The chip type, as defined by the last byte"), std::string::npos);
  EXPECT_NE(ReadErrorLog().find("The chip type, as defined by the last byte"), std::string::npos);
  EXPECT_FALSE(monitor->settings.station.sensorEnabled[0]);
}

TEST_F(MonitorFixture, StartRecordsFollowTheHeaderOfANewLog) {
  WriteStation({});
  Start();
  std::istringstream in(ReadDataLog());
  std::string l1, l2, l3, l4;
  std::getline(in, l1);
  std::getline(in, l2);
  std::getline(in, l3);
  std::getline(in, l4);
  EXPECT_EQ(l1, "cm Data Log File for WX118\r");
  EXPECT_EQ(l2, "cm created:(following is date/time, encoded) 26l07m00\r");
  EXPECT_EQ(l3, "ss26l07m00- - System started, WX118 version: 1 Sept 10\r");
  EXPECT_EQ(l4, "wo26l07m00- - Wind Dir Offset:9. Using lookup table:a.\r");
}

TEST_F(MonitorFixture, FatalPrimaryFaultEndsBeforeTheFirstCycle) {
  std::filesystem::create_directories(work);
  std::ofstream(work / "WX118ini.txt") << "not the right first line\r\n";
  Start();
  EXPECT_TRUE(monitor->FatalConfigFault());
  EXPECT_TRUE(ui->TerminateRequested());
  EXPECT_FALSE(monitor->views.main.timerEnabled);
  EXPECT_FALSE(std::filesystem::exists(root / "c" / "WX18DtLg.txt"));
}

TEST_F(MonitorFixture, QuitClosesLogsAndDisablesQuit) {
  WriteStation({});
  Start();
  EXPECT_TRUE(monitor->views.main.buQuitEnabled);
  monitor->buQuitClick();
  EXPECT_FALSE(monitor->views.main.buQuitEnabled);
  EXPECT_EQ(monitor->views.main.laMsgs.text, "One moment please");
  EXPECT_FALSE(monitor->LogErrorsToFile);
  EXPECT_FALSE(monitor->dataLog().LogDataToFile);
  EXPECT_TRUE(ui->TerminateRequested());
  const std::string before = ReadErrorLog();
  monitor->ShowError("after quit");
  EXPECT_EQ(ReadErrorLog(), before);
  EXPECT_NE(monitor->views.errors.Memo1.back().find("after quit"), std::string::npos);
}

TEST_F(MonitorFixture, MainWindowNeverStaysMaximisedAndTheOthersFollowIt) {
  WriteStation({});
  Start();
  monitor->FormResize(WindowState::Maximized);
  EXPECT_EQ(monitor->views.main.window.state, WindowState::Normal);
  monitor->FormResize(WindowState::Minimized);
  EXPECT_EQ(monitor->views.numeric.window.state, WindowState::Minimized);
  EXPECT_EQ(monitor->views.errors.window.state, WindowState::Minimized);
  monitor->FormResize(WindowState::Normal);
  EXPECT_EQ(monitor->views.numeric.window.state, WindowState::Normal);
  EXPECT_EQ(monitor->views.errors.window.state, WindowState::Normal);
}

TEST_F(MonitorFixture, SchemesMoveAllThreeWindows) {
  WriteStation({});
  Start();
  EXPECT_EQ(monitor->views.main.window.rect, (WindowRect{0, 0, 696, 370}));
  monitor->SchemeB1Click();
  EXPECT_EQ(monitor->views.errors.window.rect, (WindowRect{10, 300, 580, 100}));
  // A window minimised on its own comes back, and the focus visits each
  // window in turn so that the main window ends on top.
  monitor->views.numeric.window.state = WindowState::Minimized;
  monitor->views.errors.window.state = WindowState::Minimized;
  ui->focused.clear();
  monitor->SchemeA1Click();
  EXPECT_EQ(monitor->views.numeric.window.state, WindowState::Normal);
  EXPECT_EQ(monitor->views.errors.window.state, WindowState::Normal);
  EXPECT_EQ(ui->focused, (std::vector<FocusTarget>{FocusTarget::NumericWindow, FocusTarget::ErrorWindow,
                                                   FocusTarget::InsertCommentButton}));
  EXPECT_EQ(monitor->views.numeric.window.rect, (WindowRect{0, 249, 696, 270}));
  EXPECT_EQ(monitor->views.main.window.rect, (WindowRect{0, 0, 696, 370}));
}

TEST_F(MonitorFixture, HelpWithoutFileShowsFourLinesBesideTheMainWindow) {
  WriteStation({});
  Start();
  monitor->views.main.window.rect = {100, 50, 696, 370};
  monitor->buHelpClick();
  ASSERT_FALSE(ui->messages.empty());
  EXPECT_EQ(ui->messages.back().rfind("The program was supplied with a help file. That seems\r", 0), 0u);
  EXPECT_EQ(ui->lastMessageX, 110);
  EXPECT_EQ(ui->lastMessageY, 110);
  // Beside the executable (a help folder) it is found and shown, with no box.
  const auto besideProgram = work / "bin";
  std::filesystem::create_directories(besideProgram);
  std::ofstream(besideProgram / "WX118.hlp") << "<h1>help</h1>";
  monitor->helpFolders = {work / "missing", besideProgram};
  const std::size_t boxes = ui->messages.size();
  monitor->buHelpClick();
  EXPECT_EQ(ui->helpShown, (std::vector<std::string>{(besideProgram / "WX118.hlp").string()}));
  EXPECT_EQ(ui->messages.size(), boxes);
  // The current folder comes first.
  std::ofstream(work / "WX118.hlp") << "help";
  monitor->buHelpClick();
  EXPECT_EQ(ui->helpShown.back(), (work / "WX118.hlp").string());
  // A file that is there but cannot be shown is not called missing.
  ui->helpViewerWorks = false;
  monitor->buHelpClick();
  ASSERT_EQ(ui->messages.size(), boxes + 1);
  EXPECT_NE(ui->messages.back().find((work / "WX118.hlp").string()), std::string::npos);
  EXPECT_EQ(ui->messages.back().find("missing"), std::string::npos);
}

TEST_F(MonitorFixture, Ini2InfoTextsNameTheRealPaths) {
  WriteStation({});
  Start();
  for (auto click : {&Monitor::Overview1Click, &Monitor::Legacy1Click, &Monitor::Modern1Click}) {
    (monitor.get()->*click)();
    const std::string& text = ui->messages.back();
    EXPECT_NE(text.find("\r\rOn this machine: C:\\WX118\\WX118ini2.txt is " +
                        (root / "c" / "WX118" / "WX118ini2.txt").string() +
                        "; WX118ini.txt is read from the folder " + std::filesystem::current_path().string()),
              std::string::npos)
        << text;
  }
}

}  // namespace
}  // namespace wx
