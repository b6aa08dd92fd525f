// SPDX-License-Identifier: GPL-2.0-or-later
#include <benchmark/benchmark.h>

#include "support/fakes.h"

#include "config/settings.h"
#include "graph/strip_chart.h"
#include "platform/ui.h"

namespace {

using wx::test::ScriptedUi;
void BM_ScrollGraph(benchmark::State& state) {
  wx::Settings settings;
  wx::ApplyDefaults(settings);
  ScriptedUi ui;
  wx::StripChart chart(settings, ui);
  chart.dayMark = 46363.0;
  std::array<bool, wx::kChannels> logged{};
  int32_t rain = 0, wind = 0;
  for (auto _ : state) {
    chart.ScrollGraph(46363.5, rain += 3, wind += 400, logged);
    benchmark::DoNotOptimize(chart.Bitmap().Row(0));
  }
}
BENCHMARK(BM_ScrollGraph);
}  // namespace

BENCHMARK_MAIN();
