// SPDX-License-Identifier: GPL-2.0-or-later
// The primary file "WX118ini.txt" read the way the program reads it: from the
// current folder by the whole start-up, with the devices it names set up on
// a simulated bus, then a minute of cycles. A refused file must end the start
// before anything is written to the data log; an accepted one must start the
// cycle and log its start records.
// The simulated network first: Qt's keyword macros would clash with it.
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/sim_network.h"

#include "app/monitor.h"
#include "fuzz/fuzz_support.h"

namespace wx::fuzz {
std::string FuzzPrimaryStartUp(const uint8_t* data, size_t size) {
  Findings f;
  const TempDir& dir = Scratch();
  if (!dir.ok()) return {};
  const std::filesystem::path home = dir.path() / "start";
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  const std::string text(AsText(data, size));
  const auto file = dir.Write("start/WX118ini.txt", text);
  const std::filesystem::path root = home / "root";
  const std::filesystem::path log = root / "c" / "WX18DtLg.txt";

  const std::filesystem::path before = std::filesystem::current_path(ec);
  std::filesystem::current_path(home, ec);
  {
    FakeClock clock;
    // Waits pass on the fake clock, so that the start-up and the cycles run
    // without sleeping.
    ScriptedUi ui(clock, 0);
    ui.waitsToDeadline = true;
    PathMapper paths(root);
    SimNetwork net(clock);  // an adapter that answers, and no chips
    Tmex tmex(MakeSimBackendFactory(net));
    Monitor monitor(clock, ui, paths, tmex);
    monitor.FormCreate();
    const bool fatal = monitor.FatalConfigFault();
    f.Check(fatal == ui.TerminateRequested(), "the start ends exactly on a fatal fault");
    if (fatal) {
      f.Check(!std::filesystem::exists(log, ec), "a refused start writes no data log");
      f.Check(!ui.messages.empty(), "a refused file is explained");
    } else {
      f.Check(monitor.views.main.timerEnabled, "an accepted file starts the cycle");
      f.Check(ReadFile(log).find("- - System started, WX118 version: ") != std::string::npos,
              "an accepted start logs its start record");
      for (int i = 0; i < 75 && !ui.TerminateRequested(); ++i) {
        clock.AdvanceMs(800);
        monitor.Timer1Timer();
      }
      f.Check(monitor.CycleReady, "the cycle goes on");
    }
  }
  std::filesystem::current_path(before, ec);
  f.Check(ReadFile(file) == text, "the file is left as it was");
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzPrimaryStartUp)
