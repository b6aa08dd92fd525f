#include <benchmark/benchmark.h>

#include "config/settings.h"
#include "graph/strip_chart.h"
#include "platform/ui.h"

namespace {
class NullUi : public wx::Ui {
 public:
  void ShowMessage(const std::string&) override {}
  void ShowMessageAt(const std::string&, int, int) override {}
  std::string InputBox(const std::string&, const std::string&, const std::string& d) override { return d; }
  wx::DialogAnswer AskYesNoCancel(const std::string&, int, int) override { return wx::DialogAnswer::Cancel; }
  void ProcessMessages() override {}
  void Terminate() override {}
  bool TerminateRequested() const override { return false; }
  void Refresh() override {}
};

void BM_ScrollGraph(benchmark::State& state) {
  wx::Settings settings;
  wx::ApplyDefaults(settings);
  NullUi ui;
  wx::StripChart chart(settings, ui);
  chart.dayMark = 46363.0;
  std::array<bool, wx::kChannels> logged{};
  int32_t rain = 0, wind = 0;
  for (auto _ : state) {
    chart.ScrollGraph(46363.5, rain += 3, wind += 400, logged);
    benchmark::DoNotOptimize(chart.Bitmap().constBits());
  }
}
BENCHMARK(BM_ScrollGraph);
}  // namespace

BENCHMARK_MAIN();
