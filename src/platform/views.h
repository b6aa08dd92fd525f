// SPDX-License-Identifier: GPL-2.0-or-later
// What each window shows, as plain data. The logic writes these structs; the
// Qt windows render them and the tests read them. Field names are the names of
// the windows' controls. Colours are Windows colour values 0x00BBGGRR.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wx {

struct LabelView {
  std::string text;
  uint32_t colour = 0x000000;  // font colour
};

enum class WindowState { Normal, Minimized, Maximized };

struct WindowRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const WindowRect&) const = default;
};

struct WindowView {
  std::string caption;
  WindowRect rect;
  WindowState state = WindowState::Normal;
};

// TWX118fControl, the numeric readings window.
struct NumericView {
  WindowView window{"Numeric display of most recent readings", {19, 437, 982, 299}};
  std::array<LabelView, 5> laTture{{{"- - -"}, {"- - -"}, {"- - -"}, {"- - -"}, {"- - -"}}};
  std::array<LabelView, 5> laTxtTture{{{"T0 (F)"}, {"T1 (F)"}, {"T2 (F)"}, {"T3(F)"}, {"T4 (F)"}}};
  LabelView laRF{"999999"}, laTxtRainfall{"RF"};
  LabelView laWS{"999999"}, laTxtWindspeed{"WS"};
  LabelView laBP{"9999"}, laTxtBP{"BP"};
  LabelView laHum{"9999"}, laTxtHum{"HM"};
  LabelView laWDi{"XXX"}, laWDa{"XXX"};
  LabelView laLT{"999999"}, laTxtLtning{"LT"};
  LabelView laOnOff1{"999999"}, laTxtOnOff1{"On/Off1"};
  LabelView laOnOff2{"999999"}, laTxtOnOff2{"On/Off2"};
  std::array<LabelView, 4> laADC{};  // laADCa .. laADCd
  LabelView laWDr, laWDb;
};

// The error window keeps its first lines (the headings) and the newest
// lines, so that a fault lasting weeks cannot grow it without end: once it
// is full, the line after the headings says where the older ones are, and
// each new line pushes out the oldest line after that note.
constexpr std::size_t kErrorViewHead = 2;
constexpr std::size_t kErrorViewLines = 1000;

// TWX118ErrDisp, the error window.
struct ErrorView {
  WindowView window{"WX118ErrDisp", {48, 241, 507, 121}};
  std::vector<std::string> Memo1{
      "Welcome to WX118",
      "(This is a splash screen experiment)",
      "Please wait while main display is initialized.",
      "On an older machine (slow processor, disk)....",
      "        perhaps a minute.....",
  };
  // Lines pushed out since Memo1 was last set afresh (a window that shows
  // it removes as many after the note).
  std::size_t Memo1Dropped = 0;
};

// Appends a line within the bound; `note` is the line that stands for the
// lines pushed out.
inline void AddErrorViewLine(ErrorView& view, std::string line, const std::string& note) {
  std::vector<std::string>& lines = view.Memo1;
  lines.push_back(std::move(line));
  if (lines.size() <= kErrorViewLines) return;
  // The first time, the oldest message gives way to the note as well.
  if (view.Memo1Dropped == 0) lines[kErrorViewHead] = note;
  lines.erase(lines.begin() + kErrorViewHead + 1);
  ++view.Memo1Dropped;
}

// TWX118f1, the main window.
struct MainView {
  WindowView window{"", {9, 91, 738, 374}};
  std::string applicationTitle;
  LabelView laMsgs;
  LabelView laTOD;
  LabelView laCycle;
  std::string buCorFCaption = "&Show Celcius";
  bool buQuitEnabled = false;
  bool timerEnabled = false;
  int timerIntervalMs = 999;
};

struct Views {
  MainView main;
  NumericView numeric;
  ErrorView errors;
};

}  // namespace wx
