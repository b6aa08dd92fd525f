// SPDX-License-Identifier: GPL-2.0-or-later
// Every seed of the fuzz corpora and every kept fuzz finding, run through the
// fuzz targets (with their invariants) in the normal build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fuzz/fuzz_support.h"

namespace wx::fuzz {
namespace {

struct NamedTarget {
  const char* name;
  Target run;
};
const NamedTarget kTargets[] = {
    {"primary_config", FuzzPrimaryConfig}, {"secondary_config", FuzzSecondaryConfig},
    {"replay", FuzzReplay},                {"colour_rect", FuzzColourRect},
    {"ds2480b", FuzzDs2480b},              {"station", FuzzStation},
    {"primary_start_up", FuzzPrimaryStartUp},
    {"export", FuzzExport},                {"upload_reply", FuzzUploadReply},
};

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzInputs : public ::testing::TestWithParam<NamedTarget> {};

TEST_P(FuzzInputs, SeedsAndKeptFindingsKeepEveryInvariant) {
  const std::filesystem::path root = std::filesystem::path(WX118_SOURCE_DIR) / "tests" / "fuzz";
  const auto seeds = FilesIn(root / "corpus" / GetParam().name);
  // A target without seeds would test nothing here.
  EXPECT_GE(seeds.size(), 2u) << "corpus/" << GetParam().name;
  auto inputs = seeds;
  for (const auto& p : FilesIn(root / "regressions" / GetParam().name)) inputs.push_back(p);
  for (const auto& p : inputs) {
    const std::string bytes = ReadFile(p);
    const std::string broken =
        GetParam().run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(broken, "") << p;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wx::fuzz
