// SPDX-License-Identifier: GPL-2.0-or-later
// What the windows hand to the program: clicks, menu choices, the timer tick
// and window state changes. The monitor implements it; the Qt front end and
// the headless runner call it.
#pragma once
#include "platform/views.h"

namespace wx {

class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void Timer1Timer() = 0;
  virtual void buQuitClick() = 0;           // also menu "&Quit"
  virtual void buCorFClick() = 0;
  virtual void buInsCmntClick() = 0;
  virtual void buCommentInHTMLClick() = 0;
  virtual void buHelpClick() = 0;           // also menu "&Help"
  virtual void buCopyrightClick() = 0;      // also menu "&About"
  virtual void SchemeA1Click() = 0;
  virtual void SchemeB1Click() = 0;
  virtual void Overview1Click() = 0;
  virtual void Legacy1Click() = 0;
  virtual void Modern1Click() = 0;
  // The main window's state changed (the user minimised, maximised or restored it).
  virtual void FormResize(WindowState newState) = 0;
  // The user moved or resized a window: keep the view in step.
  virtual void WindowMoved(int window, const WindowRect& rect) { (void)window; (void)rect; }
  // The main window's close box: returns once the application may end.
  virtual void FormClose() = 0;
  // A second copy asked this one to come to the front.
  virtual void RestoreRequested() {}
};

}  // namespace wx
