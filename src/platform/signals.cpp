// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

#include "platform/exit_status.h"

namespace wx {
namespace {

// A signal handler can reach nothing but a file-level descriptor.
int quitPipe[2] = {-1, -1};
unsigned quitDeadline = kQuitDeadlineSeconds;

void OnQuitDeadline(int) {
  static const char kText[] = "wx118: the quit did not finish in time; ending now\n";
  [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, kText, sizeof kText - 1);
  ::_exit(kExitRunTime);
}

void OnQuitSignal(int) {
  if (quitPipe[1] < 0) ::_exit(kExitOk);
  const char b = 1;
  [[maybe_unused]] ssize_t n = ::write(quitPipe[1], &b, 1);
  // The pipe is read by the event loop; a wait that never returns to it
  // must not keep the program from ending.
  ::alarm(quitDeadline);
}

void Catch(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : QuitSignals()) sigaction(s, &sa, nullptr);
  sa.sa_handler = OnQuitDeadline;
  sigaction(SIGALRM, &sa, nullptr);
}

}  // namespace

const std::vector<int>& QuitSignals() {
  // SIGHUP: the terminal or the session went away.
  static const std::vector<int> quitSignals{SIGTERM, SIGINT, SIGHUP};
  return quitSignals;
}

void IgnoreWriteSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

void CatchQuitSignalsEarly() {
  IgnoreWriteSignals();
  Catch(OnQuitSignal);
}

void InstallQuitOnSignals(std::function<void()> quit, unsigned deadlineSeconds) {
  quitDeadline = deadlineSeconds;
  int fds[2];
  if (quitPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    Catch(OnQuitSignal);
    return;
  }
  // A burst of signals must never block the handler.
  ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [quit = std::move(quit)] {
    char b[16];
    [[maybe_unused]] ssize_t n = ::read(quitPipe[0], b, sizeof b);
    if (quit) quit();
    // The quit path ran; what is left is returning from the event loop.
    ::alarm(0);
  });
  quitPipe[0] = fds[0];
  quitPipe[1] = fds[1];
  Catch(OnQuitSignal);
}

}  // namespace wx
