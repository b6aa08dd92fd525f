// SPDX-License-Identifier: GPL-2.0-or-later
// A run killed between writing a page's temporary file and renaming it leaves
// that file in the served folder; the next run's first write removes it and
// nothing else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/fake_ui.h"
#include "web/web_publisher.h"

namespace wx {
namespace {

namespace fs = std::filesystem;

class StaleTemporariesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("wx118-stale-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "www");
    page_.pageFolder = (dir_ / "www").string();
    page_.imageIntervalSeconds = 60;
    page_.imageIntervalDays = SecondsToDays(60);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const std::string& name) { std::ofstream(dir_ / "www" / name) << "half a page"; }
  bool Has(const std::string& name) const { return fs::exists(dir_ / "www" / name); }

  fs::path dir_;
  PageConfig page_;
  FakeClock clock_;
  test::FakeUi ui_{clock_};
  test::RecordingErrors sink_;
  ChannelState channels_;
  RgbImage chart_{780, 237};
};

TEST_F(StaleTemporariesTest, FirstWritesRemoveOnlyLeftTemporariesOfTheirOwnFile) {
  PathMapper paths(dir_ / "root");
  Touch(".WX118WG.htm.a1B2c3");
  Touch(".WX118WG.htm.Q9w8e7");
  Touch(".WX118WG.jpg.Zz9Yy8");
  // Not ours: another file's, a different length, a character mkstemp never uses, no dot.
  for (const char* keep : {".index.htm.abcdef", ".WX118WG.htm.abcde", ".WX118WG.htm.abc-ef",
                           "WX118WG.htm.abcdef", ".WX118WG.htm.abcdefg"})
    Touch(keep);
  fs::create_directories(dir_ / "www" / ".WX118WG.htm.subdir");

  WebPublisher web(page_, paths, clock_, ui_, sink_, channels_, chart_);
  web.WriteWebPage();
  EXPECT_TRUE(sink_.errors.empty());
  EXPECT_TRUE(Has("WX118WG.htm"));
  EXPECT_FALSE(Has(".WX118WG.htm.a1B2c3"));
  EXPECT_FALSE(Has(".WX118WG.htm.Q9w8e7"));
  EXPECT_TRUE(Has(".WX118WG.jpg.Zz9Yy8"));  // the picture has not been written yet

  clock_.AdvanceMs(1000);
  web.ImageExportTick();
  EXPECT_TRUE(Has("WX118WG.jpg"));
  EXPECT_FALSE(Has(".WX118WG.jpg.Zz9Yy8"));
  for (const char* keep : {".index.htm.abcdef", ".WX118WG.htm.abcde", ".WX118WG.htm.abc-ef",
                           "WX118WG.htm.abcdef", ".WX118WG.htm.abcdefg", ".WX118WG.htm.subdir"})
    EXPECT_TRUE(Has(keep)) << keep;
}

TEST_F(StaleTemporariesTest, MissingFolderIsSweptOnceItExists) {
  EXPECT_EQ(RemoveStaleTemporaries((dir_ / "gone" / "WX118WG.htm").string()), -1);
  PathMapper paths(dir_ / "root");
  page_.pageFolder = (dir_ / "later").string();
  WebPublisher web(page_, paths, clock_, ui_, sink_, channels_, chart_);
  web.WriteWebPage();
  ASSERT_EQ(sink_.errors.size(), 1u);  // no folder: reported
  fs::create_directories(dir_ / "later");
  std::ofstream(dir_ / "later" / ".WX118WG.htm.k3j4h5") << "x";
  web.WriteWebPage();
  EXPECT_EQ(sink_.errors.size(), 1u);
  EXPECT_FALSE(fs::exists(dir_ / "later" / ".WX118WG.htm.k3j4h5"));
  EXPECT_TRUE(fs::exists(dir_ / "later" / "WX118WG.htm"));
}

}  // namespace
}  // namespace wx
