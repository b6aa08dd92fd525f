// SPDX-License-Identifier: GPL-2.0-or-later
// The entry of the windows module: the program finds this table by name
// after loading the module (app/front_end.h).
#include <QApplication>

#include "app/front_end.h"
#include "app/qt/qt_front_end.h"

namespace {

QGuiApplication* MakeApplication(int& argc, char** argv) { return new QApplication(argc, argv); }

wx::FrontEnd* MakeWindows(wx::Views& views, const QImage& graph, const QImage& dial, double timeScale) {
  return new wx::QtFrontEnd(views, graph, dial, timeScale);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const wx::WindowsModule wx118_windows_module{MakeApplication,
                                                                                               MakeWindows};
