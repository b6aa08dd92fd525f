// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's state and behaviour: the start-up sequence, the cycle and
// its 60-slot schedule, messages and the error log, quitting, the unit toggle,
// the layout schemes, help and about. One object for the whole run; it owns
// every subsystem object and hands them to each other by reference.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/error_log.h"
#include "app/window_events.h"
#include "config/settings.h"
#include "datalog/data_log.h"
#include "datalog/replay.h"
#include "graph/strip_chart.h"
#include "graph/wind_dial.h"
#include "channels/channel_state.h"
#include "onewire/devices.h"
#include "onewire/readers.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "platform/views.h"
#include "archive/archive_writer.h"
#include "mqtt/mqtt_publisher.h"
#include "upload/uploads.h"
#include "tmex/tmex.h"
#include "weather/weather.h"
#include "web/web_publisher.h"

namespace wx {

class Monitor : public WindowEvents, public ErrorSink {
 public:
  Monitor(const Clock& clock, Ui& ui, const PathMapper& paths, Tmex& tmex);
  ~Monitor() override;

  // The chips' route when the command line chose one: owserver at this
  // address, or (empty) the TMEX calls. Unset: the secondary file's [Bus]
  // Owserver, else the TMEX calls.
  std::optional<std::optional<std::string>> busRoute;

  // The start-up sequence; leaves the timer armed unless a fatal
  // configuration fault asked the application to end.
  void FormCreate();
  bool FatalConfigFault() const { return fatalConfigFault_; }
  // The program's exit status once the run has ended (platform/exit_status.h).
  int ExitStatus() const;

  // ErrorSink
  void ShowError(const std::string& message) override;

  // WindowEvents
  void Timer1Timer() override;
  void buQuitClick() override;
  void buCorFClick() override;
  void buInsCmntClick() override;
  void buCommentInHTMLClick() override;
  void buHelpClick() override;
  void buCopyrightClick() override;
  void SchemeA1Click() override;
  void SchemeB1Click() override;
  void Overview1Click() override;
  void Legacy1Click() override;
  void Modern1Click() override;
  void FormResize(WindowState newState) override;
  void WindowMoved(int window, const WindowRect& rect) override;
  void FormClose() override;

  void ApplySchemeA();

  // Where the help file is looked for after the current folder: beside the
  // executable, then the installed share folder (main sets them).
  std::vector<std::filesystem::path> helpFolders;

  // State the windows and the tests read.
  Views views;
  Settings settings;
  ChannelState channels;
  int32_t CycleCount = 1;
  bool CycleReady = false;
  uint16_t ErrorCount = 0;
  bool LogErrorsToFile = false;
  bool ShowCelsius = false;
  DateTime NextColumnTime = 0;

  StripChart& chart() { return chart_; }
  WindDial& dial() { return dial_; }
  DataLog& dataLog() { return dataLog_; }
  Devices& devices() { return devices_; }
  Readers& readers() { return readers_; }
  HistoryReplay& replay() { return replay_; }
  WebPublisher& web() { return web_; }
  // nullptr without an [MQTT] section.
  MqttPublisher* mqtt() { return mqtt_.get(); }
  // The weather derived from the readings, for every output that shows it.
  Weather& weather() { return weather_; }
  const Weather& weather() const { return weather_; }

  static const char* AttributionText();

 private:
  // The owserver route when busRoute or the secondary file name one.
  void UseBusRoute();
  void OnTimerCycle();
  void RunSlot(int slot);
  // The reader of one channel, by its kind.
  void ReadChannel(int channel);
  void FollowClockSteps();
  void OpenErrorLog();
  void CloseErrorLog();
  void WriteErrorLogLine(const std::string& line);
  // A line for the error window, within its bound.
  void AddErrorLine(const std::string& line);
  // Logs the closing lines of repeated messages that have stopped.
  void LogEndedRepeats(bool all, bool toScreen = true);
  std::string RealPathsText() const;
  void SetErrorCaption();
  void ApplyScheme(int scheme);
  void ChooseScheme(int scheme);

  const Clock& clock_;
  Ui& ui_;
  const PathMapper& paths_;
  StripChart chart_;
  WindDial dial_;
  DataLog dataLog_;
  Devices devices_;
  Readers readers_;
  HistoryReplay replay_;
  WebPublisher web_;
  std::unique_ptr<MqttPublisher> mqtt_;
  std::unique_ptr<LiveArchive> archive_;  // nullptr with [Archive] Enabled=0
  std::unique_ptr<Uploads> uploads_;  // nullptr without a network section
  CurrentValues current_;
  Weather weather_;

  ErrorLogFile errorLog_;
  RepeatCollapser repeats_;
  bool errorLogWriteFailed_ = false;
  bool fatalConfigFault_ = false;
  bool fatalRunTimeFault_ = false;  // the data log could not be opened
  // Messages shown before the error log opened: they are written to it when
  // it opens and kept in the error window after its two fixed lines.
  std::vector<std::string> earlyMessages_;
  bool errorWindowReset_ = false;
};

}  // namespace wx
