// SPDX-License-Identifier: GPL-2.0-or-later
// The front end's boxes: they show the windows as they are, and once the
// program is ending they neither block nor lose what they carry.
#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <functional>

#include "app/qt/qt_front_end.h"

namespace wx {
namespace {

class QtDialogsTest : public ::testing::Test {
 protected:
  ~QtDialogsTest() override {
    // A quit leaves every later event loop returning at once; the
    // application's own loop clears that when it ends.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
  }
  // Runs `act` on the box once it is open (polled, with a bound).
  void WhenBoxOpens(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act, tries] {
      QWidget* box = QApplication::activeModalWidget();
      if (!box && ++*tries < 500) return;
      poll->deleteLater();
      poll->stop();
      act(box);
    });
    poll->start(1);
  }
  Views views;
  RgbImage graph{780, 237};
  WindDial dial;
};

TEST_F(QtDialogsTest, BoxShowsCaptionsSetJustBeforeIt) {
  QtFrontEnd ui(views, graph, dial);
  views.errors.window.caption = "Error messages (Being logged to file)";
  QString seen;
  WhenBoxOpens([&](QWidget* box) {
    seen = ui.ErrorWindow()->windowTitle();
    ASSERT_NE(box, nullptr);
    box->close();
  });
  ui.ShowMessage("Unable to find old data log.");
  EXPECT_EQ(seen, "Error messages (Being logged to file)");
}

TEST_F(QtDialogsTest, InputBoxAnswersAndCancel) {
  QtFrontEnd ui(views, graph, dial);
  WhenBoxOpens([](QWidget* box) {
    auto* in = qobject_cast<QInputDialog*>(box);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->windowTitle(), "How long should message persist?");
    EXPECT_EQ(in->textValue(), "1");
    in->setTextValue("0.5");
    in->accept();
  });
  EXPECT_EQ(ui.InputBox("How long should message persist?", "For how many days?", "1"), "0.5");
  // Cancelled: the default, whatever was typed.
  WhenBoxOpens([](QWidget* box) {
    auto* in = qobject_cast<QInputDialog*>(box);
    ASSERT_NE(in, nullptr);
    in->setTextValue("typed");
    in->reject();
  });
  EXPECT_EQ(ui.InputBox("Add comment to Weather datafile", "What you enter", ""), "");
}

TEST_F(QtDialogsTest, QuitWhileABoxIsOpenKeepsWhatWasTypedAndLaterBoxesDoNotBlock) {
  QtFrontEnd ui(views, graph, dial);
  std::string typed, days, err;
  DialogAnswer answer = DialogAnswer::Yes;
  int opened = 0;
  // Inside the application's loop, as in the program: quit ends every loop.
  QTimer::singleShot(0, qApp, [&] {
    WhenBoxOpens([&](QWidget* box) {
      auto* in = qobject_cast<QInputDialog*>(box);
      ASSERT_NE(in, nullptr);
      in->setTextValue("rain gauge cleaned");
      ui.Terminate();  // as SIGTERM's quit path does
    });
    typed = ui.InputBox("Add comment to Weather datafile", "What you enter", "");
    if (!ui.TerminateRequested()) return;
    // Nothing is shown any more: messages go to standard error, questions
    // take their defaults, and none of it waits for an answer.
    auto* watch = new QTimer(qApp);
    QObject::connect(watch, &QTimer::timeout, watch, [&] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        ++opened;
        box->close();
      }
    });
    watch->start(1);
    testing::internal::CaptureStderr();
    ui.ShowMessage("The data log is closed. Your comment was: " + typed);
    ui.ShowMessageAt("About", 10, 60);
    err = testing::internal::GetCapturedStderr();
    days = ui.InputBox("How long should message persist?", "For how many days?", "1");
    answer = ui.AskYesNoCancel("Set time limit for display?", 200, 200);
    delete watch;
  });
  QTimer::singleShot(10000, qApp, &QCoreApplication::quit);  // bound only
  QCoreApplication::exec();
  EXPECT_EQ(typed, "rain gauge cleaned");
  EXPECT_TRUE(ui.TerminateRequested());
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(err,
            "wx118: The data log is closed. Your comment was: rain gauge cleaned\n"
            "wx118: About\n");
  EXPECT_EQ(days, "1");
  EXPECT_EQ(answer, DialogAnswer::Cancel);
}

}  // namespace
}  // namespace wx
