// SPDX-License-Identifier: GPL-2.0-or-later
// Program entry: one copy per user, the data root, the bus (simulated or the
// serial adapter), the monitor and its windows (or none, with --headless).
// The windows are a module loaded only when they are wanted.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "app/demo.h"
#include "app/display_check.h"
#include "app/front_end.h"
#include "app/headless_ui.h"
#include "app/monitor.h"
#include "app/options.h"
#include "platform/exit_status.h"
#include "platform/signals.h"
#include "archive/archive_command.h"
#include "export/log_export.h"
#include "app/scan_command.h"
#include "platform/single_instance.h"
#include "tmex/ds2480b/serial_backend.h"
#include "tmex/tmex.h"

namespace {

// The monitor needs its Ui when it is built, the front ends need the
// monitor's views: this hands the calls on once both exist.
class UiRelay : public wx::Ui {
 public:
  wx::Ui* target = nullptr;
  void ShowMessage(const std::string& t) override { target->ShowMessage(t); }
  void ShowMessageAt(const std::string& t, int x, int y) override { target->ShowMessageAt(t, x, y); }
  std::string InputBox(const std::string& c, const std::string& p, const std::string& d) override {
    return target->InputBox(c, p, d);
  }
  wx::DialogAnswer AskYesNoCancel(const std::string& t, int x, int y) override {
    return target->AskYesNoCancel(t, x, y);
  }
  void ProcessMessages() override { target->ProcessMessages(); }
  void WaitMessages(uint32_t ms) override { target->WaitMessages(ms); }
  void Terminate() override { target->Terminate(); }
  bool TerminateRequested() const override { return target->TerminateRequested(); }
  void Refresh() override { target->Refresh(); }
  void ErrorLineAdded(const std::string& l) override { target->ErrorLineAdded(l); }
  void GiveFocus(wx::FocusTarget f) override { target->GiveFocus(f); }
  bool ShowHelp(const std::string& p) override { return target->ShowHelp(p); }
};

// The second copy's word (standard error only: it touches nothing else).
int AlreadyRunning(long long pid, const std::string& where) {
  std::cerr << "wx118: a copy is already running" << where;
  if (pid > 0) std::cerr << " (process " << pid << ")";
  std::cerr << "; it was asked to come to the front. This one ends.\n";
  return 0;
}

int Fail(const std::string& text, int status) {
  std::cerr << "wx118: " << text << "\n";
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  wx::CatchQuitSignalsEarly();
  std::vector<std::string> args(argv + 1, argv + argc);
  // Subcommands run beside a running monitor: no windows, no instance lock.
  if (!args.empty() && args[0] == "export") return wx::RunExportCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "archive") return wx::RunArchiveCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "summary") return wx::RunSummaryCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "scan") return wx::RunScanCommand({args.begin() + 1, args.end()});
  std::string error;
  const std::optional<wx::Options> parsed = wx::ParseOptions(args, error);
  if (!parsed) {
    std::cerr << "wx118: " << error << "\n" << wx::UsageText();
    return wx::kExitUsage;
  }
  wx::Options opt = *parsed;
  if (opt.help) {
    std::cout << wx::HelpText();
    return wx::kExitOk;
  }
  if (opt.version) {
    std::cout << wx::VersionText() << "\n";
    return wx::kExitOk;
  }
  const wx::WindowsModule* windows = nullptr;
  if (!opt.headless) {
    std::string why;
    if (!wx::DisplayAvailable(why)) return Fail(wx::NoDisplayText(why, opt.demo), wx::kExitNoDisplay);
    windows = wx::LoadWindowsModule(why);
    if (!windows) return Fail(why + "; to run without windows use --headless", wx::kExitNoDisplay);
  }

  // Without windows a core application does: the chart, the dial and the
  // picture's stamp are drawn on images, and a GUI application would load a
  // platform plugin, fonts and their configuration for nothing.
  std::unique_ptr<QCoreApplication> app(windows ? windows->makeApplication(argc, argv)
                                               : new QCoreApplication(argc, argv));
  QCoreApplication::setApplicationName("WX118");

  // A second copy hands over to the first and ends, touching nothing else.
  wx::SingleInstance instance;
  switch (instance.TryBecomePrimary()) {
    case wx::SingleInstance::Claim::OtherCopyRuns:
      wx::SingleInstance::SendRestore();
      return AlreadyRunning(instance.HolderPid(), "");
    case wx::SingleInstance::Claim::Refused:
      // A fault of the setting, like a bad configuration: a restart cannot mend it.
      std::cerr << "wx118: " << instance.Problem() << "\n";
      return wx::kExitConfig;
    case wx::SingleInstance::Claim::Primary:
      if (!instance.Problem().empty()) std::cerr << "wx118: " << instance.Problem() << "\n";
      break;
  }

  std::error_code ec;
  std::filesystem::path demoPage;
  if (opt.demo) {
    const wx::DemoPaths demo = wx::WriteDemoInstallation(opt.demoDir);
    std::filesystem::current_path(demo.dir, ec);
    if (ec) return Fail("cannot use the demo folder " + demo.dir.string() + ": " + ec.message(), wx::kExitRunTime);
    if (!opt.root) opt.root = demo.root.string();
    opt.simulate = demo.station.string();
    demoPage = demo.www / "WX118WG.htm";
  }
  const std::filesystem::path root = opt.root ? std::filesystem::absolute(*opt.root)
                                              : wx::PathMapper::DefaultRoot();
  std::filesystem::create_directories(root, ec);
  if (ec) return Fail("cannot create the data root " + root.string() + ": " + ec.message(), wx::kExitRunTime);
  wx::PathMapper paths(root);
  // One copy per data folder, whatever the environment it was started in.
  wx::DataFolderLock folderLock;
  const auto dataFolder = paths.Map(wx::FileLocations{}.dataLogPath).parent_path();
  switch (folderLock.Acquire(dataFolder)) {
    case wx::DataFolderLock::Result::HeldElsewhere:
      wx::SingleInstance::SendRestore();
      return AlreadyRunning(folderLock.HolderPid(), " on the data folder " + dataFolder.string());
    case wx::DataFolderLock::Result::Failed:
      std::cerr << "wx118: " << folderLock.Problem() << "; going on without it\n";
      break;
    case wx::DataFolderLock::Result::Held:
      break;
  }
  if (opt.demo && opt.headless) {
    // Without windows, the only way to see the demo is its files.
    std::cerr << "wx118: demo in " << std::filesystem::current_path(ec).string() << ": page "
              << demoPage.string() << ", data log "
              << paths.Map(wx::Settings().files.dataLogPath).string() << ", error log "
              << paths.Map(wx::Settings().files.errorLogPath).string() << std::endl;
  } else if (opt.headless) {
    // A service's owner reads the journal, not a window: say where the
    // defaults put the page when no secondary file moves it.
    const wx::Settings defaults;
    const auto ini2 = paths.Map(defaults.files.secondaryConfig);
    if (!std::filesystem::exists(ini2, ec) && !ec)
      std::cerr << "wx118: no secondary file " << ini2.string() << ": the page is written to "
                << paths.Map(defaults.page.pageFolder + defaults.page.pageFileName).string()
                << " at every cycle and no picture of the chart is made (see wx118ini2(5))" << std::endl;
  }

  wx::SystemClock clock(opt.speed);
  wx::BackendFactory factory;
  if (opt.simulate) {
    factory = wx::StationWriter::MakeFactory(*opt.simulate, clock, &error);
    if (!error.empty()) return Fail("station file " + *opt.simulate + ": " + error, wx::kExitConfig);
  } else {
    // Adapter type 5: the DS9097U on the serial device of the port digit (or --serial-device).
    factory = wx::MakeSerialBackendFactory(opt.serialDevice);
  }
  wx::Tmex tmex(factory);

  UiRelay relay;
  wx::Monitor monitor(clock, relay, paths, tmex);
  if (opt.owserver)
    monitor.busRoute = opt.owserver;
  else if (opt.simulate || opt.serialDevice)
    monitor.busRoute = std::optional<std::string>();  // the command line chose the TMEX calls
  std::unique_ptr<wx::FrontEnd> ui;
  if (windows)
    ui.reset(windows->makeWindows(monitor.views, monitor.chart().Bitmap(), monitor.dial(), opt.speed));
  else
    ui = std::make_unique<wx::HeadlessUi>(monitor.views, opt.speed);
  ui->Attach(monitor);
  relay.target = ui.get();
  ui->ShowAll();
  if (!instance.ListenForRestore([&] { ui->RestoreAndRaise(); }))
    std::cerr << "wx118: " << instance.Problem() << "\n";
  wx::InstallQuitOnSignals([&] { monitor.buQuitClick(); });

  const std::filesystem::path exeDir = QCoreApplication::applicationDirPath().toStdString();
  monitor.helpFolders = {exeDir, exeDir.parent_path() / "share" / "wx118"};
  monitor.FormCreate();
  if (monitor.FatalConfigFault()) return wx::kExitConfig;
  const int rc = ui->Exec();
  return rc != 0 ? rc : monitor.ExitStatus();
}
