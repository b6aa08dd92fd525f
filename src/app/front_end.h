// SPDX-License-Identifier: GPL-2.0-or-later
// A front end: the Ui port plus the event loop that drives the monitor. The
// windows (app/qt) and the headless runner each provide one. The windows live
// in a module of their own, loaded only when there are windows, so that a run
// without them maps no widget library.
#pragma once
#include <string>

#include "app/window_events.h"
#include "graph/rgb_image.h"
#include "graph/wind_dial.h"
#include "platform/ui.h"
#include "platform/views.h"

class QCoreApplication;

namespace wx {

class FrontEnd : public Ui {
 public:
  virtual void Attach(WindowEvents& events) = 0;
  // Shows the windows, if there are any.
  virtual void ShowAll() {}
  // Runs the event loop until the program ends; returns its status.
  virtual int Exec() = 0;
  // Another copy asked this one to come to the front.
  virtual void RestoreAndRaise() {}
};

// What the windows module offers (wx118-windows.so, built from app/qt).
struct WindowsModule {
  // The widget application object; argc and argv must outlive it.
  QCoreApplication* (*makeApplication)(int& argc, char** argv);
  // The three windows on the views (not shown yet); they paint the dial from now on.
  FrontEnd* (*makeWindows)(Views& views, RgbImage& graph, WindDial& dial, double timeScale);
};

// The name of the module's one exported symbol, a WindowsModule.
constexpr const char* kWindowsModuleSymbol = "wx118_windows_module";

// Loads the windows module (platform/modules.h). nullptr with the reason in
// `why` when it cannot.
const WindowsModule* LoadWindowsModule(std::string& why);

}  // namespace wx
