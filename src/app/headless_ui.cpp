// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/headless_ui.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace wx {

std::string JoinMessageLines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += " / ";
    } else {
      out += c;
    }
  }
  return out;
}

HeadlessUi::HeadlessUi(Views& views, double timeScale)
    : views_(views), timeScale_(timeScale > 0 ? timeScale : 1.0) {
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (events_) events_->Timer1Timer();
  });
}

int HeadlessUi::Exec() {
  if (terminate_) return 0;
  return QCoreApplication::exec();
}

void HeadlessUi::ShowMessage(const std::string& text) {
  std::cerr << "wx118: " << JoinMessageLines(text) << std::endl;
}

void HeadlessUi::ShowMessageAt(const std::string& text, int, int) { ShowMessage(text); }

std::string HeadlessUi::InputBox(const std::string&, const std::string&, const std::string& defaultText) {
  return defaultText;
}

DialogAnswer HeadlessUi::AskYesNoCancel(const std::string& text, int, int) {
  ShowMessage(text);
  return DialogAnswer::Cancel;
}

void HeadlessUi::ProcessMessages() { QCoreApplication::processEvents(); }

void HeadlessUi::WaitMessages(uint32_t ms) { WaitForEvents(RealMs(ms, timeScale_)); }

int RealMs(uint32_t ms, double timeScale) {
  return static_cast<int>(std::ceil(static_cast<double>(ms) / (timeScale > 0 ? timeScale : 1.0)));
}

void WaitForEvents(int realMs) {
  // Our own timer wakes the loop at the deadline when nothing else does.
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  deadline.start(std::max(0, realMs));
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void HeadlessUi::Terminate() {
  terminate_ = true;
  timer_.stop();
  QCoreApplication::quit();
}

void HeadlessUi::Refresh() {
  const int interval = std::max(1, static_cast<int>(std::lround(views_.main.timerIntervalMs / timeScale_)));
  if (timer_.interval() != interval) timer_.setInterval(interval);
  const bool run = views_.main.timerEnabled && !terminate_;
  if (run && !timer_.isActive()) timer_.start();
  if (!run && timer_.isActive()) timer_.stop();
}

void HeadlessUi::ErrorLineAdded(const std::string& line) {
  if (stdoutGone_) return;
  std::cout << line << std::endl;
  if (std::cout) return;
  // Its reader left (a closed pipe): the lines still reach the error log
  // and the error window; say so once where it can still be seen.
  stdoutGone_ = true;
  std::cerr << "wx118: standard output can no longer be written; error lines go to the error log only"
            << std::endl;
}

}  // namespace wx
