// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/monitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <filesystem>

#include "platform/numeric_text.h"
#include "config/help_texts.h"
#include "config/primary_config.h"
#include "config/secondary_config.h"
#include "onewire/ownet_calls.h"
#include "onewire/owserver_chip_bus.h"
#include "weather/station.h"
#include "datalog/records.h"
#include "datalog/stamps.h"
#include "platform/exit_status.h"
#include "platform/signals.h"

namespace wx {
namespace {

constexpr const char* kErrorHeader1 =
    "Errors since program last restarted.... N.B. Not all sensors will have been read until 54 "
    "cycles have passed...";
constexpr const char* kErrorHeader2 =
    "And \"WD(a)\" (average wind direction in recent readings) stays \"XXX\" for at least 500 "
    "cycles.";
constexpr const char* kDefaultPageMessage =
    "(A line of news from the station owner can appear here: use the \"Insert Comment in HTML\" "
    "button, or the [HTMLMsg] section of WX118ini2.txt.)";

std::string PadTwo(int v) { return (v < 10 ? " " : "") + std::to_string(v); }
std::string ZeroTwo(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

}  // namespace

const char* Monitor::AttributionText() {
  // Two short lines: the label's second line must end before the time of day.
  return "WX118 weather monitor. Home page: its README.md";
}

Monitor::Monitor(const Clock& clock, Ui& ui, const PathMapper& paths, Tmex& tmex)
    : clock_(clock),
      ui_(ui),
      paths_(paths),
      chart_(settings, ui),
      dataLog_(settings.files, paths, clock, ui, *this, views.main),
      devices_(tmex, settings.station, clock, ui, *this, CycleCount),
      readers_(settings, channels, devices_, chart_, dial_, dataLog_, views.numeric, *this, clock,
               ui, ShowCelsius),
      replay_(chart_, settings, channels, dataLog_, views.numeric,
              [this](int column) { readers_.WindAverageSummary(column); }, *this, ui, paths, clock),
      web_(settings.page, paths, clock, ui, *this, channels, chart_.Bitmap()),
      current_(settings),
      weather_(settings, StationSettings{}, *this) {
  dataLog_.SetQuitPath([this] {
    fatalRunTimeFault_ = true;
    buQuitClick();
  });
  // A file-size limit or a pipe whose reader left must give a write error
  // that the writer reports, not end the program.
  IgnoreWriteSignals();
  // The outputs beside the specified files hear of every reading here.
  readers_.readings.Subscribe(current_);
  readers_.readings.Subscribe(weather_);
  web_.current = &current_;
  current_.weather = &weather_;
}

void Monitor::UseBusRoute() {
  std::optional<std::string> address;
  if (busRoute) {
    address = *busRoute;
  } else {
    // [Bus] Owserver=HOST:PORT reads the chips through owserver; the primary
    // file's port and adapter type stay for the serial adapter.
    const auto ini = SecondaryProfile(settings, paths_);
    std::string why;
    if (ini) address = ReadOwserverSetting(*ini, why);
    if (!why.empty())
      ShowError("In WX118ini2.txt, [Bus] Owserver " + why + "; the chips are read through the adapter of "
                "lines h and i.");
  }
  std::string why;
  if (address && !LoadOwnet(why)) {
    ShowError("owserver " + *address + ": " + why + "; the chips are read through the adapter of lines h and i.");
    return;
  }
  if (address) devices_.UseRoute(std::make_unique<OwserverChipBus>(*address, settings.station, ui_));
}

int Monitor::ExitStatus() const {
  if (fatalConfigFault_) return kExitConfig;
  return fatalRunTimeFault_ ? kExitRunTime : kExitOk;
}

Monitor::~Monitor() {
  if (mqtt_) readers_.readings.Unsubscribe(*mqtt_);
  if (archive_) readers_.readings.Unsubscribe(*archive_);
  // The front end may be gone already: the file only.
  LogEndedRepeats(true, false);
  CloseErrorLog();
}

void Monitor::FormCreate() {
  const DateTime start = clock_.Now();
  // The page table and the page message come first: a configuration fault
  // found later still leaves a page that can be written. The message is kept
  // aside because the defaults below reset the page settings.
  web_.RecentReadings = RecentReadingTable{};
  const std::string keptPageMessage = kDefaultPageMessage;
  const DateTime keptPageMessageExpiry = 0;
  settings.page.pageMessage = keptPageMessage;
  settings.page.pageMessageExpiry = keptPageMessageExpiry;
  channels.OnOffHasPrevious = {};
  channels.OnOffChanged = {};
  web_.NextImageTime = start;
  web_.NextPageTime = start;
  // The captions show at once, before the slow parts of start-up; the
  // secondary file may relabel them later.
  SetDefaultChannelLabels(settings.plot);
  RefreshCaptions(settings.plot.channelLabel, views.main.buCorFCaption, views.numeric);
  // No tick may start a cycle while the state below is being built, even
  // when a configuration message box pumps messages.
  views.main.timerEnabled = false;
  CycleReady = false;
  dataLog_.DataLogWriteBusy = false;
  CycleCount = 1;
  views.main.applicationTitle = "WX118";
  views.main.window.caption = std::string("Weather monitor- WX118 Ver:") + kVersionText;
  views.main.timerIntervalMs = 800;
  views.main.laMsgs.text = "One moment please while program initializes.";
  ErrorCount = 0;
  channels.LatestTture = {999.0f, 999.0f, 999.0f, 999.0f, 999.0f};
  ShowCelsius = false;
  channels.WindHistogram = {};
  channels.ChannelReadCount = {};
  channels.ChannelLogged = {};
  chart_.dayMark = DatePart(start);
  chart_.lastRainCount = chart_.lastWindSpeedCount = chart_.lastLightningCount = kNoCount;
  NextColumnTime = start;
  chart_.ColumnInterval = 0.012;
  ui_.Refresh();
  // Defaults first, then the secondary file over them; the kept page message
  // goes back in between, so that only a configured message replaces it.
  ApplyDefaults(settings);
  settings.page.pageMessage = keptPageMessage;
  settings.page.pageMessageExpiry = keptPageMessageExpiry;
  if (!LoadSecondaryConfig(settings, views.numeric, views.main.buCorFCaption, paths_, clock_, ui_,
                           *this)) {
    // The reader has shown its messages and the closing text already.
    fatalConfigFault_ = true;
  }
  // The station file and the devices. A fatal fault in either file ends
  // the program here: nothing later may rely on an unusable configuration,
  // and a run that never starts must not leave start records in the log.
  if (!fatalConfigFault_) {
    if (LoadPrimaryConfig(settings.station, settings.files.primaryConfig, ui_, *this)) {
      ConvertSensorIds(settings.station);
      UseBusRoute();
      devices_.InitDevices();
    } else {
      fatalConfigFault_ = true;
    }
  }
  if (fatalConfigFault_) {
    ui_.Terminate();
    return;
  }
  // The splash text stays readable through the file work that follows.
  ui_.Refresh();
  dataLog_.LogDataToFile = true;
  chart_.CreateBitmap();
  chart_.ColumnInterval = 0.012;
  // The error log opens before the data log, so that the data log's own
  // troubles are logged.
  OpenErrorLog();
  // The start records go in before the replay reads the old log, so the log
  // shows this start even when the replay finds it unusable and ends the run.
  if (dataLog_.LogDataToFile) dataLog_.OpenDataLog();
  if (dataLog_.LogDataToFile) {
    dataLog_.AppendLogLine(StartRecord(StampNow(clock_)));
    dataLog_.AppendLogLine(
        WindOffsetRecord(StampNow(clock_), settings.station.windOffset, settings.station.windTable));
  }
  // The error window becomes the error list, keeping what was already said.
  views.errors.Memo1 = {kErrorHeader1, kErrorHeader2};
  views.errors.Memo1Dropped = 0;
  for (const std::string& line : earlyMessages_) AddErrorLine(line);
  earlyMessages_.clear();
  errorWindowReset_ = true;
  ui_.Refresh();
  // The derived weather's [Station] settings; their problems go to the error log.
  std::vector<std::string> stationProblems;
  const auto ini2 = SecondaryProfile(settings, paths_);
  weather_.Configure(ini2 ? ReadStationSettings(*ini2, stationProblems) : StationSettings{});
  for (const std::string& p : stationProblems) ShowError(p);
  // MQTT when the secondary file asks for it; its problems go to the error log.
  mqtt_ = MqttPublisher::FromSecondaryFile(settings, paths_, *this, &weather_);
  if (mqtt_) {
    readers_.readings.Subscribe(*mqtt_);
    mqtt_->Start();
  }
  // The weather networks, each with its own worker thread.
  uploads_ = Uploads::FromSecondaryFile(settings, weather_.station(), paths_, clock_, *this, WX118_VERSION);
  if (uploads_) uploads_->Start();
  // The replay closes the data log behind it; it is reopened for the cycle.
  replay_.ReplayDataLog();
  if (dataLog_.LogDataToFile && !ui_.TerminateRequested()) dataLog_.OpenDataLog();
  // The day so far (rain, extremes, peak gust) from the log's last 24 hours.
  weather_.SeedFromLog(paths_.Map(settings.files.dataLogPath), clock_.Now());
  // The archive records the weather after it has heard each reading.
  archive_ = LiveArchive::FromSecondaryFile(
      settings, paths_, weather_.station(), [this](DateTime now) { return weather_.Snapshot(now); }, *this);
  if (archive_) readers_.readings.Subscribe(*archive_);
  chart_.scrollCounter = 0;
  // Only now may ticks run cycles: the first one replaces this text by the
  // attribution. The layout is applied last, when every window is complete.
  views.main.laMsgs.text = "One moment please while first \"wait\" cycle completes...";
  CycleReady = true;
  ApplySchemeA();
  views.main.timerEnabled = true;
  ui_.Refresh();
  // A first page at once: the web folder shows this run from its start, the
  // table filling as readings come.
  web_.WriteWebPage();
}

// ---------------------------------------------------------------- the cycle

void Monitor::Timer1Timer() {
  if (!CycleReady) return;
  if (views.main.laMsgs.text.compare(0, 11, "One moment ") == 0)
    views.main.laMsgs.text = AttributionText();
  try {
    OnTimerCycle();
  } catch (const std::exception& e) {
    CycleReady = true;
    ShowError(std::string("During OnTimerCycle, unexpected error: ") + e.what());
  } catch (...) {
    CycleReady = true;
    ShowError("During OnTimerCycle, unexpected error.");
  }
  LogEndedRepeats(false);
  ui_.Refresh();
}

void Monitor::OnTimerCycle() {
  NumericView& n = views.numeric;
  const auto& colour = settings.plot.channelColour;
  for (int k = 0; k < 5; ++k) n.laTture[k].colour = colour[k];
  n.laRF.colour = colour[5];
  n.laWS.colour = colour[6];
  n.laLT.colour = colour[7];
  n.laBP.colour = colour[8];
  n.laHum.colour = colour[9];
  n.laWDi.colour = n.laWDa.colour = kWindDirColour;
  n.laOnOff1.colour = colour[11];
  n.laOnOff2.colour = colour[12];

  CycleReady = false;
  const DateTimeParts p = DecodeDateTime(clock_.Now());
  views.main.laTOD.text = PadTwo(p.hour) + ":" + ZeroTwo(p.minute) + ":" + ZeroTwo(p.second) +
                          "       " + PadTwo(p.day) + "/" + PadTwo(p.month) + "/" +
                          std::to_string(p.year);
  try {
    const int slot = CycleCount % 60;  // a negative remainder selects nothing
    if (slot >= 0) RunSlot(slot);
    FollowClockSteps();
    if (clock_.Now() > NextColumnTime) {
      NextColumnTime += chart_.ColumnInterval;
      chart_.ScrollGraph(clock_.Now(), channels.CountLatest[5], channels.CountLatest[6],
                         channels.ChannelLogged);
    }
  } catch (...) {
    ++CycleCount;
    views.main.laCycle.text = std::to_string(CycleCount);
    CycleReady = true;
    throw;
  }
  ++CycleCount;
  views.main.laCycle.text = std::to_string(CycleCount);
  CycleReady = true;

  web_.PageUpdateTick(ShowCelsius);
  web_.ImageExportTick();
  if (uploads_) uploads_->Tick([this] { return weather_.Snapshot(clock_.Now()); });
}

void Monitor::FollowClockSteps() {
  const DateTime now = clock_.Now();
  const double interval = chart_.ColumnInterval;
  if (NextColumnTime > now + interval) {
    // Back by more than a column (a reset clock, the end of summer time):
    // waiting for the old column time would freeze the chart that long.
    NextColumnTime = now;
    if (chart_.dayMark > DatePart(now)) chart_.dayMark = DatePart(now);
  } else if (now - NextColumnTime > interval * kGraphWidth) {
    // Forward by more than the chart's width (a board without a real-time
    // clock getting the network time): catching up one column per tick
    // would scroll for days. Shorter gaps still catch up column by column.
    chart_.ClearTo(now);
    NextColumnTime = now;
  }
}

void Monitor::RunSlot(int slot) {
  const auto& on = settings.station.sensorEnabled;
  for (const SlotStep& step : kSlotPlan[static_cast<size_t>(slot)]) {
    switch (step.task) {
      case SlotTask::None:
        return;
      case SlotTask::Read:
        if (on[step.channel]) ReadChannel(step.channel);
        break;
      case SlotTask::WindAverage:
        if (on[step.channel]) readers_.PublishWindAverage(kNewestColumn);
        break;
      case SlotTask::CyclesComment:
        if (CycleCount % 2000 == 0 && dataLog_.LogDataToFile)
          dataLog_.AppendLogLine(CyclesCommentRecord(StampNow(clock_), CycleCount));
        break;
      case SlotTask::PageMessageCheck:
        web_.PageMessageExpiryCheck();
        break;
    }
  }
}

void Monitor::ReadChannel(int channel) {
  switch (Channel(channel).kind) {
    case ChannelKind::Temperature:
      readers_.ReadTtureChannel(channel);
      break;
    case ChannelKind::Counter:
      if (channel == 5) readers_.LookAtRain();
      else if (channel == 6) readers_.LookAtWindSpeed();
      else readers_.LookLightning();
      break;
    case ChannelKind::OnOff:
      readers_.LookOnOff(channel - 10);
      break;
    case ChannelKind::Analog:
      if (channel == 8) readers_.LookAtBaro();
      else readers_.LookAtHum();
      break;
    case ChannelKind::WindDirection:
      readers_.LookAtWindDir();
      break;
  }
}

// ------------------------------------------------------ messages, error log

void Monitor::ShowError(const std::string& message) {
  ++ErrorCount;
  const std::string stamp = StampNow(clock_);
  const std::string line = std::to_string(ErrorCount) + ": " + message + " " + stamp;
  AddErrorLine(line);
  if (!errorWindowReset_) earlyMessages_.push_back(line);
  // The window keeps every recent line; the file and standard output get a
  // run of one message collapsed.
  const std::optional<std::string> logged = repeats_.Pass(message, ErrorCount, clock_.Now(), stamp);
  if (!logged) return;
  ui_.ErrorLineAdded(*logged);
  if (LogErrorsToFile) WriteErrorLogLine(*logged);
}

void Monitor::AddErrorLine(const std::string& line) {
  // The note is only needed the one time the window fills.
  std::string note;
  if (views.errors.Memo1Dropped == 0 && views.errors.Memo1.size() >= kErrorViewLines)
    note = LogErrorsToFile ? "Older messages are in the error log " + paths_.Shown(settings.files.errorLogPath) + "."
                           : "Older messages are no longer shown here; the error log is not being written.";
  AddErrorViewLine(views.errors, line, note);
}

void Monitor::LogEndedRepeats(bool all, bool toScreen) {
  for (const std::string& line : repeats_.Ended(clock_.Now(), all)) {
    if (toScreen) ui_.ErrorLineAdded(line);
    if (LogErrorsToFile) WriteErrorLogLine(line);
  }
}

void Monitor::WriteErrorLogLine(const std::string& line) {
  // Unbuffered: each line reaches the file at once, whatever way the program ends.
  if (errorLog_.WriteLine(line, StampNow(clock_))) {
    errorLogWriteFailed_ = false;
    return;
  }
  if (!errorLogWriteFailed_) {
    // Shown once per run of failures, in the window only (no recursion).
    errorLogWriteFailed_ = true;
    const std::string note = "(Could not write that message to the error log " +
                             paths_.Shown(settings.files.errorLogPath) + ": " + errorLog_.Reason() + ")";
    AddErrorLine(note);
    ui_.ErrorLineAdded(note);
  }
}

void Monitor::OpenErrorLog() {
  LogErrorsToFile = true;
  const std::filesystem::path path = paths_.Map(settings.files.errorLogPath);
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  if (!errorLog_.Open(path, StampNow(clock_))) {
    ui_.ShowMessage("Unable to establish file to log errors. " + paths_.Shown(settings.files.errorLogPath) + ": " + errorLog_.Reason());
    LogErrorsToFile = false;
  } else {
    for (const std::string& line : earlyMessages_) WriteErrorLogLine(line);
  }
  SetErrorCaption();
}

void Monitor::CloseErrorLog() {
  LogEndedRepeats(true);
  errorLog_.Close();
  LogErrorsToFile = false;
}

void Monitor::SetErrorCaption() {
  views.errors.window.caption = LogErrorsToFile ? "Error messages (Being logged to file)"
                                                : "Error messages (NOT being logged to file)";
}

// ------------------------------------------------------------ quit and close

void Monitor::buQuitClick() {
  views.main.buQuitEnabled = false;
  views.main.laMsgs.text = "One moment please";
  if (mqtt_) mqtt_->Stop();
  if (archive_) archive_->Stop();
  if (uploads_) uploads_->Stop();
  if (LogErrorsToFile) CloseErrorLog();
  if (replay_.ReplayReaderOpen) {
    replay_.CloseReader();
    dataLog_.LogDataToFile = false;
  }
  if (dataLog_.LogDataToFile) {
    dataLog_.Close();
    dataLog_.LogDataToFile = false;
  }
  ui_.Refresh();
  ui_.Terminate();
}

void Monitor::FormClose() {
  do {
    ui_.ProcessMessages();
  } while (dataLog_.DataLogWriteBusy);
  ui_.Terminate();
}

// ------------------------------------------------------------ the buttons

void Monitor::buCorFClick() {
  ToggleUnits(ShowCelsius, views.main, views.numeric, settings.plot.channelLabel, channels.LatestTture);
  ui_.Refresh();
}

void Monitor::buInsCmntClick() {
  dataLog_.buInsCmntClick();
  ui_.Refresh();
}

void Monitor::buCommentInHTMLClick() {
  web_.buCommentInHTMLClick();
  ui_.Refresh();
}

// The drive-letter names of the help texts, as they are on this machine.
std::string Monitor::RealPathsText() const {
  const auto& f = settings.files;
  std::error_code ec;
  return "\r\rOn this machine: " + f.secondaryConfig + " is " + paths_.Map(f.secondaryConfig).string() +
         "; " + f.primaryConfig + " is read from the folder " + std::filesystem::current_path(ec).string() +
         "; the data log " + f.dataLogPath + " is " + paths_.Map(f.dataLogPath).string() + ".";
}

void Monitor::Overview1Click() { ui_.ShowMessage(OverviewHelpText() + RealPathsText()); }
void Monitor::Legacy1Click() { ui_.ShowMessage(LegacyHelpText() + RealPathsText()); }
void Monitor::Modern1Click() { ui_.ShowMessage(ModernHelpText() + RealPathsText()); }

void Monitor::buHelpClick() {
  std::error_code ec;
  const std::filesystem::path inCurrentFolder =
      std::filesystem::absolute(paths_.Map(settings.files.helpFile), ec);
  std::vector<std::filesystem::path> candidates{inCurrentFolder};
  for (const std::filesystem::path& folder : helpFolders)
    candidates.push_back(folder / inCurrentFolder.filename());
  for (const std::filesystem::path& help : candidates) {
    if (!std::filesystem::is_regular_file(help, ec)) continue;
    // The file is there: any trouble now is not a missing file.
    if (!ui_.ShowHelp(help.string()))
      ui_.ShowMessageAt("The help file " + help.string() + " is there but could not be shown.",
                        views.main.window.rect.left + 10, views.main.window.rect.top + 60);
    return;
  }
  ui_.ShowMessageAt(
      "The program was supplied with a help file. That seems\r"
      "to be missing from your machine. Reinstall, if you want the help. If you\r"
      "don't have the install file, go to the author's website for a new copy.\r"
      "You can learn the location of the website via the copyright button",
      views.main.window.rect.left + 10, views.main.window.rect.top + 60);
}

void Monitor::buCopyrightClick() {
  const char* lines[7] = {
      "WX118 weather-station monitor, version 1 Sept 10.",
      "Reads a 1-Wire weather station through a DS9097U adapter, logs every reading, draws the chart and publishes a web page.",
      "Free software under the GNU General Public License, version 2 or (at your option) any later "
      "version: you may use, study, change and share it under its terms.",
      "It comes with no warranty; the licence: " WX118_DOC_DIR "/copyright.",
      "Use it at your own risk.",
      "Home page, sources and new copies: the README.md at the top of the WX118 source tree, "
      "installed with the program as " WX118_DOC_DIR "/README.md.",
      "Thank you for using WX118.",
  };
  std::string text = std::string(lines[0]) + "\r\r" + lines[1] + "\r\r" + lines[2] + "\r\r" +
                     lines[3] + "\r" + lines[4] + "\r\r" + lines[5] + "\r\r" + lines[6];
  ui_.ShowMessageAt(text, views.main.window.rect.left + 10, views.main.window.rect.top + 60);
}

// ------------------------------------------------------------ window layout

void Monitor::ApplyScheme(int scheme) {
  views.main.window.rect = settings.schemeRect[scheme][0];
  views.errors.window.rect = settings.schemeRect[scheme][1];
  views.numeric.window.rect = settings.schemeRect[scheme][2];
}

void Monitor::ApplySchemeA() {
  ApplyScheme(0);
  ui_.Refresh();
}

// Each window is restored and given the focus in turn, even one the user
// minimised on its own, so that all three end up in view with the main
// window on top and active.
void Monitor::ChooseScheme(int scheme) {
  views.numeric.window.state = WindowState::Normal;
  ui_.Refresh();
  ui_.GiveFocus(FocusTarget::NumericWindow);
  views.errors.window.state = WindowState::Normal;
  ui_.Refresh();
  ui_.GiveFocus(FocusTarget::ErrorWindow);
  ApplyScheme(scheme);
  ui_.Refresh();
  ui_.GiveFocus(FocusTarget::InsertCommentButton);
}

void Monitor::SchemeA1Click() { ChooseScheme(0); }
void Monitor::SchemeB1Click() { ChooseScheme(1); }

void Monitor::FormResize(WindowState newState) {
  WindowState state = newState;
  if (state == WindowState::Maximized) state = WindowState::Normal;
  views.main.window.state = state;
  if (state == WindowState::Minimized) {
    views.numeric.window.state = WindowState::Minimized;
    views.errors.window.state = WindowState::Minimized;
  } else {
    views.numeric.window.state = WindowState::Normal;
    views.errors.window.state = WindowState::Normal;
  }
  ui_.Refresh();
}

void Monitor::WindowMoved(int window, const WindowRect& rect) {
  WindowView* w[3] = {&views.main.window, &views.errors.window, &views.numeric.window};
  if (window >= 0 && window < 3) w[window]->rect = rect;
}

}  // namespace wx
