// SPDX-License-Identifier: GPL-2.0-or-later
// The three windows on screen. They render the view models and forward clicks,
// menu choices, timer ticks and window changes to WindowEvents; they hold no
// program state of their own.
#pragma once
#include <QMargins>
#include <QObject>
#include <QTimer>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/front_end.h"
#include "platform/views.h"

class QLabel;
class QMainWindow;
class QPlainTextEdit;
class QPushButton;
class QTextBrowser;
class QWidget;

namespace wx {

class ImagePane;

// Window numbers in WindowMoved: 0 main, 1 error, 2 numeric. A view rect is
// the window's outer frame; it is applied when it changed since the last
// redraw or when the window manager's frame changed, so a window the user
// moved stays put. The main window's state follows its view whenever they
// differ; before FormResize is called the view is set to the user's new state.
// The numeric and error windows take their view state when it changed, and a
// state the user gives them directly is written into their view.
class QtFrontEnd : public QObject, public FrontEnd {
 public:
  // From now on the windows paint the dial.
  QtFrontEnd(Views& views, RgbImage& graph, WindDial& dial, double timeScale = 1.0);
  ~QtFrontEnd() override;
  void Attach(WindowEvents& events) override { events_ = &events; }
  void ShowAll() override;
  int Exec() override;
  void RestoreAndRaise() override;

  void ShowMessage(const std::string& text) override;
  void ShowMessageAt(const std::string& text, int x, int y) override;
  std::string InputBox(const std::string& caption, const std::string& prompt,
                       const std::string& defaultText) override;
  DialogAnswer AskYesNoCancel(const std::string& text, int x, int y) override;
  void ProcessMessages() override;
  void WaitMessages(uint32_t ms) override;
  void Terminate() override;
  bool TerminateRequested() const override { return terminate_; }
  void Refresh() override;
  void GiveFocus(FocusTarget target) override;
  bool ShowHelp(const std::string& path) override;

  QWidget* NumericWindow() const;
  QWidget* ErrorWindow() const;
  QWidget* MainWindow() const;
  QWidget* HelpWindow() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildNumeric();
  void BuildError();
  void BuildMain();
  void RenderWindow(int index, QWidget* w, const WindowView& v);
  void PlaceFrame(QWidget* w, const WindowRect& r, const QMargins& m);
  void RenderMemo();
  void RenderTimer();
  bool BeforeBox(const std::string& text);
  void Bind(QLabel* label, const LabelView& view);

  Views& views_;
  RgbImage& graph_;
  WindDial& dial_;
  double timeScale_;
  WindowEvents* events_ = nullptr;
  bool terminate_ = false;
  bool rendering_ = false;  // our own geometry/state changes are not user actions
  std::unique_ptr<QWidget> numeric_, error_;
  std::unique_ptr<QMainWindow> main_;
  std::unique_ptr<QTextBrowser> help_;
  QPlainTextEdit* memo_ = nullptr;
  ImagePane* graphPane_ = nullptr;
  ImagePane* dialPane_ = nullptr;
  QPushButton* buQuit_ = nullptr;
  QPushButton* buCorF_ = nullptr;
  QTimer timer_;
  // A label and its view, with what was last handed to the label: most
  // ticks change one or two of them, and the rest cost a comparison.
  struct Bound {
    QLabel* label;
    const LabelView* view;
    std::string text;
    uint32_t colour = 0;
    bool shown = false;
  };
  std::vector<Bound> bound_;
  std::string buCorFShown_;
  // Index 0 main, 1 error, 2 numeric (as WindowMoved numbers them).
  std::array<WindowRect, 3> lastRect_;      // the view rects as last rendered
  std::array<WindowRect, 3> reportedRect_;  // the last user geometry sent on
  std::array<QMargins, 3> lastMargins_;     // the frames the view rects were placed with
  std::array<WindowState, 3> lastState_{WindowState::Normal, WindowState::Normal, WindowState::Normal};
  std::size_t memoShown_ = 0;
  std::size_t memoDropped_ = 0;  // views_.errors.Memo1Dropped as last shown
  std::string memoFirst_, memoLast_;
};

}  // namespace wx
