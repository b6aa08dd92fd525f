// SPDX-License-Identifier: GPL-2.0-or-later
// WriteWebPage (build + atomic replace with fsync) and ExportGraphJpeg
// (encode 780 x 237 + atomic replace), on the disk the temp folder lives on.
#include <benchmark/benchmark.h>

#include "support/fakes.h"

#include <filesystem>
#include <stdlib.h>

#include "web/web_publisher.h"

namespace {

using wx::test::ScriptedUi;
using wx::test::RecordingErrors;

struct Fixture {
  Fixture() : root(mkdtemp(tmpl)), paths(root) {
    std::filesystem::create_directories(root / "c");
    for (int x = 0; x < 780; ++x)
      for (int y = 0; y < 3; ++y) chart.Set(x, 118 + (x * 37 % 90) - 45 + y, 0xFF000000u | (x % 255) << 16 | 80 << 8 | 160);
  }
  ~Fixture() { std::filesystem::remove_all(root); }
  char tmpl[32] = "/tmp/wx118-bench-XXXXXX";
  std::filesystem::path root;
  wx::PathMapper paths;
  wx::FakeClock clock;
  wx::PageConfig page;
  ScriptedUi ui;
  RecordingErrors sink;
  wx::ChannelState channels;
  wx::RgbImage chart{780, 237};
};

void BM_WriteWebPage(benchmark::State& state) {
  Fixture f;
  wx::WebPublisher web(f.page, f.paths, f.clock, f.ui, f.sink, f.channels, f.chart);
  for (int i = 0; i < 8; ++i) web.PushRecentReading('C', 21.5f + i, -3.0f);
  for (auto _ : state) web.WriteWebPage();
}
BENCHMARK(BM_WriteWebPage)->Unit(benchmark::kMicrosecond);

void BM_EncodeJpeg(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) benchmark::DoNotOptimize(wx::EncodeJpeg(f.chart));
}
BENCHMARK(BM_EncodeJpeg)->Unit(benchmark::kMicrosecond);

void BM_ExportGraphJpeg(benchmark::State& state) {
  Fixture f;
  wx::WebPublisher web(f.page, f.paths, f.clock, f.ui, f.sink, f.channels, f.chart);
  for (auto _ : state) web.ExportGraphJpeg();
}
BENCHMARK(BM_ExportGraphJpeg)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
