// SPDX-License-Identifier: GPL-2.0-or-later
// The entry of the windows module: the program finds this table by name
// after loading the module (app/front_end.h).
#include <QApplication>

#include "app/front_end.h"
#include "app/qt/qt_front_end.h"

namespace {

// At rest the windows change a few small labels at every tick. Through shared
// memory, the X server must be done reading a region before it is painted
// again, a round trip to the server (waking two of our threads) at every tick;
// sent along with the request, those few pixels cost less. Only the
// connection made here reads the setting, and programs started from here do
// not inherit it.
QCoreApplication* MakeApplication(int& argc, char** argv) {
  const bool ours = !qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
  if (ours) qputenv("QT_XCB_NO_MITSHM", "1");
  auto* app = new QApplication(argc, argv);
  if (ours) qunsetenv("QT_XCB_NO_MITSHM");
  return app;
}

wx::FrontEnd* MakeWindows(wx::Views& views, wx::RgbImage& graph, wx::WindDial& dial, double timeScale) {
  return new wx::QtFrontEnd(views, graph, dial, timeScale);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const wx::WindowsModule wx118_windows_module{MakeApplication,
                                                                                               MakeWindows};
