// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/qt/qt_front_end.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTextBrowser>
#include <QCoreApplication>
#include <QTextBlock>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMainWindow>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <map>

namespace wx {
namespace {

class FakeEvents : public WindowEvents {
 public:
  std::map<std::string, int> calls;
  std::vector<WindowState> states;
  std::vector<std::pair<int, WindowRect>> moves;
  std::function<void()> onTick;
  void Timer1Timer() override {
    ++calls["Timer1Timer"];
    if (onTick) onTick();
  }
  void buQuitClick() override { ++calls["buQuitClick"]; }
  void buCorFClick() override { ++calls["buCorFClick"]; }
  void buInsCmntClick() override { ++calls["buInsCmntClick"]; }
  void buCommentInHTMLClick() override { ++calls["buCommentInHTMLClick"]; }
  void buHelpClick() override { ++calls["buHelpClick"]; }
  void buCopyrightClick() override { ++calls["buCopyrightClick"]; }
  void SchemeA1Click() override { ++calls["SchemeA1Click"]; }
  void SchemeB1Click() override { ++calls["SchemeB1Click"]; }
  void Overview1Click() override { ++calls["Overview1Click"]; }
  void Legacy1Click() override { ++calls["Legacy1Click"]; }
  void Modern1Click() override { ++calls["Modern1Click"]; }
  void FormResize(WindowState s) override { states.push_back(s); }
  void WindowMoved(int w, const WindowRect& r) override { moves.emplace_back(w, r); }
  void FormClose() override { ++calls["FormClose"]; }
};

class QtFrontEndTest : public ::testing::Test {
 protected:
  QtFrontEndTest() { graph.Fill(0xFF00FF00); }
  template <typename T = QLabel>
  T* Find(QWidget* window, const char* name) {
    T* w = window->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  Views views;
  RgbImage graph{780, 237};
  WindDial dial;
  FakeEvents events;
};

TEST_F(QtFrontEndTest, RendersTextsColoursCaptionsAndQuitState) {
  views.main.window.caption = "Weather monitor- WX118 Ver:1 Sept 10";
  views.main.laMsgs.text = "One moment please while program initializes.";
  views.main.laCycle = {"42", 0x0000FF};  // red in BGR order
  views.numeric.laTture[3] = {"21.5", 0xFF0000};
  views.numeric.laTxtTture[3].text = "T3 (C)";
  QtFrontEnd ui(views, graph, dial);
  QWidget* m = ui.MainWindow();
  EXPECT_EQ(m->windowTitle(), "Weather monitor- WX118 Ver:1 Sept 10");
  EXPECT_EQ(ui.NumericWindow()->windowTitle(), "Numeric display of most recent readings");
  EXPECT_EQ(ui.ErrorWindow()->windowTitle(), "WX118ErrDisp");
  EXPECT_EQ(Find(m, "laMsgs")->text(), "One moment please while program initializes.");
  EXPECT_EQ(Find(m, "laCycle")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(Find(m, "laText4")->text(), "cycles since boot");
  QLabel* t3 = Find(ui.NumericWindow(), "laTture3");
  EXPECT_EQ(t3->text(), "21.5");
  EXPECT_EQ(t3->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  EXPECT_EQ(t3->geometry(), QRect(176, 9, 40, 18));
  EXPECT_EQ(Find(ui.NumericWindow(), "laTxtTture3")->text(), "T3 (C)");
  EXPECT_EQ(Find(ui.NumericWindow(), "Label5")->text(), "WD(a)");
  EXPECT_EQ(Find<QWidget>(m, "imMainGraphPane")->size(), QSize(780, 237));
  EXPECT_EQ(Find<QWidget>(m, "imMainGraphPane")->grab().toImage().pixelColor(5, 5), QColor(Qt::green));
  EXPECT_EQ(Find<QWidget>(m, "iWindDial")->geometry(), QRect(456, 8, 60, 60));

  auto* quit = Find<QPushButton>(m, "buQuit");
  EXPECT_FALSE(quit->isEnabled());
  views.main.buQuitEnabled = true;
  views.main.buCorFCaption = "&Show F'heit";
  views.main.laCycle.text = "43";
  ui.Refresh();
  EXPECT_TRUE(quit->isEnabled());
  EXPECT_EQ(Find<QPushButton>(m, "buCorF")->text(), "&Show F'heit");
  EXPECT_EQ(Find(m, "laCycle")->text(), "43");
}

TEST_F(QtFrontEndTest, GeometryFollowsChangedViewsOnlyAndMemoAppends) {
  QtFrontEnd ui(views, graph, dial);
  ui.Attach(events);
  ui.ShowAll();
  QWidget* n = ui.NumericWindow();
  // The rectangle is the outer frame (this platform draws a frame too).
  EXPECT_EQ(n->frameGeometry(), QRect(19, 437, 982, 299));
  EXPECT_LT(n->width(), 982);
  // A window the user moved stays where it is while the view does not change.
  n->move(100, 120);
  QCoreApplication::processEvents();
  ASSERT_FALSE(events.moves.empty());
  EXPECT_EQ(events.moves.back().first, 2);
  EXPECT_EQ(events.moves.back().second, (WindowRect{100, 120, 982, 299}));
  ui.Refresh();
  EXPECT_EQ(n->pos(), QPoint(100, 120));
  views.numeric.window.rect = {0, 249, 696, 270};
  ui.Refresh();
  EXPECT_EQ(n->frameGeometry(), QRect(0, 249, 696, 270));

  auto* memo = Find<QPlainTextEdit>(ui.ErrorWindow(), "Memo1");
  EXPECT_EQ(memo->blockCount(), 5);
  EXPECT_EQ(memo->document()->findBlockByNumber(4).text(), "        perhaps a minute.....");
  views.errors.Memo1 = {"Errors since program last restarted....", "And"};
  ui.Refresh();
  EXPECT_EQ(memo->toPlainText(), "Errors since program last restarted....\nAnd");
  views.errors.Memo1.push_back("1: gone");
  ui.Refresh();
  EXPECT_EQ(memo->blockCount(), 3);
  EXPECT_EQ(memo->document()->lastBlock().text(), "1: gone");
  // Beyond the bound the oldest lines go here as in the view, a few or many at a time.
  for (int i = 2; i < 2500; ++i) {
    AddErrorViewLine(views.errors, std::to_string(i) + ": more", "(older ones: in the log)");
    if (i % 7 == 0 || i > 2400) ui.Refresh();
  }
  QStringList shown;
  for (const std::string& line : views.errors.Memo1) shown << QString::fromStdString(line);
  EXPECT_EQ(memo->blockCount(), static_cast<int>(kErrorViewLines));
  EXPECT_EQ(memo->toPlainText(), shown.join('\n'));
}

TEST_F(QtFrontEndTest, ButtonsAndMenuItemsForwardToTheirHandlers) {
  views.main.buQuitEnabled = true;
  QtFrontEnd ui(views, graph, dial);
  ui.Attach(events);
  QWidget* m = ui.MainWindow();
  for (const char* b : {"buQuit", "buCorF", "buInsCmnt", "buHelp", "buCopyright", "buCommentInHTML"})
    Find<QPushButton>(m, b)->click();
  for (const char* a : {"Quit1", "SchemeA1", "SchemeB1", "About1", "Overview1", "Legacy1", "Modern1", "Help1"}) {
    QAction* action = m->findChild<QAction*>(a);
    ASSERT_NE(action, nullptr) << a;
    action->trigger();
  }
  const std::map<std::string, int> expected{
      {"buQuitClick", 2},   {"buCorFClick", 1},    {"buInsCmntClick", 1}, {"buHelpClick", 2},
      {"buCopyrightClick", 2}, {"buCommentInHTMLClick", 1}, {"SchemeA1Click", 1}, {"SchemeB1Click", 1},
      {"Overview1Click", 1}, {"Legacy1Click", 1},  {"Modern1Click", 1}};
  EXPECT_EQ(events.calls, expected);
  EXPECT_EQ(m->findChild<QAction*>("SchemeB1")->text(), "Scheme &B");

  // The close box leaves the ending to the program.
  ui.ShowAll();
  EXPECT_FALSE(m->close());
  EXPECT_EQ(events.calls["FormClose"], 1);
  EXPECT_TRUE(m->isVisible());
  EXPECT_FALSE(ui.TerminateRequested());
  ui.ErrorWindow()->close();
  EXPECT_TRUE(ui.TerminateRequested());
}

TEST_F(QtFrontEndTest, UserStateChangesReachFormResizeAndViewStateIsApplied) {
  QtFrontEnd ui(views, graph, dial);
  ui.Attach(events);
  ui.ShowAll();
  ui.MainWindow()->showMinimized();
  QCoreApplication::processEvents();
  ASSERT_FALSE(events.states.empty());
  EXPECT_EQ(events.states.back(), WindowState::Minimized);
  // The program answers by minimising the other two; that is not a user action.
  const std::size_t reported = events.states.size();
  views.main.window.state = WindowState::Minimized;
  views.numeric.window.state = views.errors.window.state = WindowState::Minimized;
  ui.Refresh();
  EXPECT_TRUE(ui.NumericWindow()->isMinimized());
  EXPECT_TRUE(ui.ErrorWindow()->isMinimized());
  EXPECT_EQ(events.states.size(), reported);
  // A maximised main window is put back whenever its view says normal.
  views.main.window.state = WindowState::Normal;
  ui.Refresh();
  ui.MainWindow()->showMaximized();
  EXPECT_EQ(events.states.back(), WindowState::Maximized);
  views.main.window.state = WindowState::Normal;  // as the program answers
  ui.Refresh();
  EXPECT_FALSE(ui.MainWindow()->isMaximized());
  // A user state the program keeps is not undone by the next redraw.
  ui.MainWindow()->showMinimized();
  ui.Refresh();
  EXPECT_TRUE(ui.MainWindow()->isMinimized());
  // A window minimised on its own: its view follows, so that setting the view
  // back to normal (a layout choice) brings it back.
  ui.MainWindow()->showNormal();
  ui.ErrorWindow()->showMinimized();
  QCoreApplication::processEvents();
  EXPECT_EQ(views.errors.window.state, WindowState::Minimized);
  ui.Refresh();
  EXPECT_TRUE(ui.ErrorWindow()->isMinimized()) << "a redraw must not undo the user's choice";
  views.errors.window.state = WindowState::Normal;
  ui.Refresh();
  EXPECT_FALSE(ui.ErrorWindow()->isMinimized());
  ui.MainWindow()->showMinimized();
  ui.RestoreAndRaise();
  EXPECT_FALSE(ui.MainWindow()->isMinimized());
  EXPECT_FALSE(ui.NumericWindow()->isMinimized());
  EXPECT_EQ(events.states.back(), WindowState::Normal);
}

TEST_F(QtFrontEndTest, NumericAndErrorWindowsHaveATitleButNoBorderIcons) {
  QtFrontEnd ui(views, graph, dial);
  for (QWidget* w : {ui.NumericWindow(), ui.ErrorWindow()}) {
    const Qt::WindowFlags f = w->windowFlags();
    EXPECT_TRUE(f.testFlag(Qt::CustomizeWindowHint) && f.testFlag(Qt::WindowTitleHint)) << w->objectName().toStdString();
    EXPECT_FALSE(f & (Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                      Qt::WindowCloseButtonHint))
        << w->objectName().toStdString();
  }
  EXPECT_FALSE(ui.MainWindow()->windowFlags().testFlag(Qt::CustomizeWindowHint));
  // The layout choice's last step: the main window with buInsCmnt focused.
  ui.ShowAll();
  ui.GiveFocus(FocusTarget::InsertCommentButton);
  EXPECT_EQ(ui.MainWindow()->focusWidget(), ui.MainWindow()->findChild<QPushButton*>("buInsCmnt"));
}

TEST_F(QtFrontEndTest, HelpOpensInItsOwnViewerWindow) {
  QtFrontEnd ui(views, graph, dial);
  const QString dir = QDir::tempPath() + "/wx118-help-" + QString::number(QCoreApplication::applicationPid());
  QDir().mkpath(dir);
  QFile file(dir + "/WX118.hlp");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<html><body><h1>Reading the chart</h1><p>Each column is 17.28 minutes.</p></body></html>");
  file.close();
  EXPECT_FALSE(ui.ShowHelp((dir + "/none.hlp").toStdString()));
  EXPECT_EQ(ui.HelpWindow(), nullptr);
  ASSERT_TRUE(ui.ShowHelp(file.fileName().toStdString()));
  auto* viewer = qobject_cast<QTextBrowser*>(ui.HelpWindow());
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_TRUE(viewer->isWindow());
  // Shown as HTML, not as its source text.
  EXPECT_EQ(viewer->document()->toPlainText().split('\n').first(), "Reading the chart");
  viewer->close();
  ASSERT_TRUE(ui.ShowHelp(file.fileName().toStdString()));
  EXPECT_EQ(ui.HelpWindow(), viewer);
  EXPECT_TRUE(viewer->isVisible());
  QDir(dir).removeRecursively();
}

TEST_F(QtFrontEndTest, TimerTicksAtTheScaledIntervalWhileEnabled) {
  views.main.timerIntervalMs = 1000;
  QtFrontEnd ui(views, graph, dial, 100.0);
  ui.Attach(events);
  auto* timer = ui.findChild<QTimer*>("Timer1");
  ASSERT_NE(timer, nullptr);
  EXPECT_FALSE(timer->isActive());
  views.main.timerEnabled = true;
  ui.Refresh();
  EXPECT_EQ(timer->interval(), 10);
  ASSERT_TRUE(timer->isActive());
  QEventLoop loop;
  events.onTick = [&] { loop.quit(); };
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);  // bound only; a tick ends it at once
  loop.exec();
  EXPECT_GE(events.calls["Timer1Timer"], 1);
  views.main.timerEnabled = false;
  ui.Refresh();
  EXPECT_FALSE(timer->isActive());
}

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  QRegion painted;
  std::map<std::string, QRegion> byName;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      ++paints;
      painted |= static_cast<QPaintEvent*>(e)->region();
      byName[o->objectName().toStdString()] |= static_cast<QPaintEvent*>(e)->region();
    }
    return false;
  }
};

TEST_F(QtFrontEndTest, ARefreshRepaintsOnlyWhatChanged) {
  QtFrontEnd ui(views, graph, dial);
  ui.Attach(events);
  ui.ShowAll();
  const auto settle = [] {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  };
  settle();
  PaintCounter all, numeric, graphPane;
  for (QWidget* w : {ui.MainWindow(), ui.ErrorWindow(), ui.NumericWindow()}) {
    PaintCounter& counter = w == ui.NumericWindow() ? numeric : all;
    w->installEventFilter(&counter);
    for (QWidget* c : w->findChildren<QWidget*>()) c->installEventFilter(&counter);
  }
  Find<QWidget>(ui.MainWindow(), "imMainGraphPane")->installEventFilter(&graphPane);
  // A tick with nothing new.
  ui.Refresh();
  settle();
  EXPECT_EQ(all.paints + numeric.paints, 0);
  // Points drawn on the chart: their part of its pane, not the numeric window.
  graph.Set(5, 5, qRgb(255, 0, 0));
  graph.Set(9, 7, qRgb(0, 0, 255));
  ui.Refresh();
  settle();
  EXPECT_GE(graphPane.paints, 1);
  EXPECT_EQ(graphPane.painted, QRegion(5, 5, 5, 3));
  EXPECT_EQ(numeric.paints, 0);
  const QImage shown = Find<QWidget>(ui.MainWindow(), "imMainGraphPane")->grab().toImage();
  EXPECT_EQ(shown.pixel(5, 5), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(9, 7), qRgb(0, 0, 255));
  // A tick that moves only the counter and the clock repaints those two
  // labels, not the window beneath nor the messages partly under the clock.
  all.byName.clear();
  views.main.laCycle.text = "8";
  views.main.laTOD.text = "12:00:01";
  ui.Refresh();
  settle();
  EXPECT_EQ(numeric.paints, 0);
  EXPECT_EQ(all.byName.size(), 2u);
  EXPECT_TRUE(all.byName["laCycle"] == QRegion(0, 0, 48, 16));
  EXPECT_TRUE(all.byName["laTOD"] == QRegion(0, 0, 161, 17));
}

// The counter and the clock place their characters themselves and redraw
// only those that changed; they must look exactly as a label showing the
// same text, painted after the messages beneath.
TEST_F(QtFrontEndTest, TickingLabelsLookLikeLabels) {
  views.main.laMsgs.text = "WWWW WWWW WWWW WWWW WWWW WWWW WWWW WWWW";
  QtFrontEnd ui(views, graph, dial);
  ui.ShowAll();
  QLabel* messages = Find(ui.MainWindow(), "laMsgs");
  QWidget parent;
  parent.setPalette(messages->palette());
  QLabel under(messages->text(), &parent);
  under.setFont(messages->font());
  under.setWordWrap(true);
  under.setAlignment(messages->alignment());
  under.setGeometry(messages->geometry());
  for (const char* name : {"laCycle", "laTOD"}) {
    QLabel* ticking = Find(ui.MainWindow(), name);
    QPalette palette = ticking->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    ticking->setPalette(palette);
    QLabel plain(&parent);
    plain.setPalette(palette);
    plain.setFont(ticking->font());
    plain.setAlignment(ticking->alignment());
    plain.setGeometry(ticking->geometry());
    const QImage blank = parent.grab(plain.geometry()).toImage();
    const auto texts = std::string_view(name) == "laCycle"
                           ? std::vector<QString>{"10379", "10380", "7", "1"}
                           : std::vector<QString>{" 9:05:09       7/12/2026", " 9:05:10       7/12/2026",
                                                  "11:11:11      11/11/2026", "10:00:00       8/12/2026"};
    for (const QString& text : texts) {
      ticking->setText(text);
      plain.setText(text);
      const QImage got = ticking->grab().toImage();
      EXPECT_EQ(got, parent.grab(plain.geometry()).toImage()) << name << " \"" << text.toStdString() << "\"";
      EXPECT_NE(got, blank) << name << " shows no text";
    }
  }
}

TEST_F(QtFrontEndTest, MessagesStillShowUnderTheClock) {
  views.main.laMsgs.text = "WWWW WWWW WWWW WWWW WWWW WWWW WWWW WWWW";  // two full lines
  QtFrontEnd ui(views, graph, dial);
  ui.ShowAll();
  QLabel* clock = Find(ui.MainWindow(), "laTOD");
  const QRect under = clock->geometry() & Find(ui.MainWindow(), "laMsgs")->geometry();
  ASSERT_FALSE(under.isEmpty());
  QImage plain(under.size(), QImage::Format_RGB32);
  plain.fill(clock->palette().window().color());
  EXPECT_NE(clock->parentWidget()->grab(under).toImage().convertToFormat(QImage::Format_RGB32), plain);
}

}  // namespace
}  // namespace wx
