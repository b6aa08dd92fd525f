// SPDX-License-Identifier: GPL-2.0-or-later
// The port through which the program's logic reaches the screen. The Qt
// windows, the headless runner and the tests each provide one.
#pragma once
#include <cstdint>
#include <string>

namespace wx {

enum class DialogAnswer { Yes, No, Cancel };
// Where a layout choice puts the input focus, in turn.
enum class FocusTarget { NumericWindow, ErrorWindow, InsertCommentButton };

class Ui {
 public:
  virtual ~Ui() = default;
  // A modal message box with an OK button. It pumps messages while open, so
  // timer ticks and clicks may arrive inside it. Line breaks are "\r".
  virtual void ShowMessage(const std::string& text) = 0;
  // The same, with the box's top-left corner at a screen position.
  virtual void ShowMessageAt(const std::string& text, int x, int y) = 0;
  // A modal one-line input box; a cancelled box returns defaultText.
  virtual std::string InputBox(const std::string& caption, const std::string& prompt,
                               const std::string& defaultText) = 0;
  // A Yes/No/Cancel confirmation placed at a screen position.
  virtual DialogAnswer AskYesNoCancel(const std::string& text, int x, int y) = 0;
  // Handles pending window messages (timer ticks, clicks) and returns.
  virtual void ProcessMessages() = 0;
  // Handles pending window messages, then sleeps until the next one arrives
  // or about ms milliseconds of the program's clock have passed, so that a
  // wait costs no processor time. The default does not sleep.
  virtual void WaitMessages(uint32_t ms) {
    (void)ms;
    ProcessMessages();
  }
  // Asks the application to end; takes effect when the message loop next runs.
  virtual void Terminate() = 0;
  virtual bool TerminateRequested() const = 0;
  // The view-model structs changed: redraw the windows from them.
  virtual void Refresh() = 0;
  // A line was appended to the error window (the headless runner prints it).
  virtual void ErrorLineAdded(const std::string& line) { (void)line; }
  // Brings a window to the front and gives it the input focus (the main
  // window for its button buInsCmnt).
  virtual void GiveFocus(FocusTarget target) { (void)target; }
  // Shows the HTML help file in a help window of the program's own; false
  // when there is none (no display) or the file could not be read.
  virtual bool ShowHelp(const std::string& path) { (void)path; return false; }
};

}  // namespace wx
