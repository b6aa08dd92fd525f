// SPDX-License-Identifier: GPL-2.0-or-later
// Random bytes and randomly damaged files must give messages, never a crash.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>

#include "config/primary_config.h"
#include "config/secondary_config.h"
#include "support/fakes.h"

namespace wx {
namespace {

using RecordingSink = test::RecordingErrors;
using RecordingUi = test::ScriptedUi;
using test::TempDir;

std::string RandomBytes(std::mt19937& rng, size_t maxLen) {
  std::string s(rng() % maxLen, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// A plausible file with a few bytes replaced, inserted or removed.
std::string Damage(std::mt19937& rng, std::string s) {
  static const char kAlphabet[] = "\r\n\0 =[]\"'$xzZeEdD0123456789abcdefgABCDEFG-,";
  const int edits = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < edits && !s.empty(); ++i) {
    const size_t pos = rng() % s.size();
    const char c = (rng() % 4 == 0) ? static_cast<char>(rng()) : kAlphabet[rng() % (sizeof kAlphabet - 1)];
    switch (rng() % 3) {
      case 0: s[pos] = c; break;
      case 1: s.insert(s.begin() + static_cast<long>(pos), c); break;
      default: s.erase(pos, 1 + rng() % 30); break;
    }
  }
  return s;
}

void ExpectReadableMessages(const std::vector<std::string>& messages) {
  for (const std::string& m : messages) {
    EXPECT_FALSE(m.empty());
    EXPECT_EQ(m.find('\0'), std::string::npos) << m;
  }
}

// A folder, a FIFO or a link to an endless device in a configuration file's
// place: a clear fatal message naming the file and why, no hang, no
// exhausted memory.
TEST(ConfigRobustnessTest, FilesThatAreNotRegularFilesAreRefusedWithTheReason) {
  for (const std::string kind : {"folder", "fifo", "zero"}) {
    TempDir dir;
    auto plant = [&](const std::filesystem::path& p) {
      std::filesystem::create_directories(p.parent_path());
      if (kind == "folder") std::filesystem::create_directory(p);
      if (kind == "fifo") {
        ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
      }
      if (kind == "zero") std::filesystem::create_symlink("/dev/zero", p);
    };
    const std::string why = kind == "folder" ? "it is a folder, not a regular file"
                            : kind == "fifo" ? "it is a FIFO, not a regular file"
                                             : "it is a device, not a regular file";
    const auto primary = dir.path() / "WX118ini.txt";
    plant(primary);
    RecordingUi ui;
    RecordingSink sink;
    StationConfig station;
    EXPECT_FALSE(LoadPrimaryConfig(station, primary, ui, sink));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_NE(ui.messages[0].find("It must be called WX118ini.txt"), std::string::npos);
    EXPECT_NE(ui.messages[0].find("in the folder " + dir.path().string() + ": " + why), std::string::npos)
        << ui.messages[0];
    EXPECT_EQ(ui.terminateCalls, 1);

    PathMapper paths(dir.path());
    Settings settings;
    ApplyDefaults(settings);
    plant(dir.path() / "c" / "WX118" / "WX118ini2.txt");
    NumericView numeric;
    FakeClock clock;
    RecordingUi ui2;
    EXPECT_FALSE(LoadSecondaryConfig(settings, numeric, "&Show Celcius", paths, clock, ui2, sink));
    ASSERT_EQ(ui2.messages.size(), 2u);
    EXPECT_EQ(ui2.messages[0].rfind("Secondary ini file (WX118ini2.txt) must begin 'abWX118ini2' "
                                    "(C:\\WX118\\WX118ini2.txt (that is " + dir.path().string() +
                                    "/c/WX118/WX118ini2.txt): " + why + ")", 0), 0u) << ui2.messages[0];
    EXPECT_EQ(ui2.terminateCalls, 1);
  }
}

TEST(ConfigRobustnessTest, PrimaryLoaderSurvivesAnyBytes) {
  const std::string good =
      "abWX118ini\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\np 1\r\nt 5\r\nj\r\n"
      "k e0000000000000010 xx\r\nl e0000000000000028 xx\r\nm e0000000000000026 xx\r\n"
      "n e0000000000000010 xx\r\no e0000000000000010 xx\r\np e000000000000001D  z\r\n"
      "q e000000000000001D  z\r\nr e000000000000001D   \r\ns e0000000000000026   \r\n"
      "t e0000000000000026   \r\nu e0000000000000020 cb\r\nv e000000000000001D  z\r\n"
      "w e000000000000001D  z\r\n";
  TempDir dir;
  std::mt19937 rng(20261208);
  int sound = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string content = (i % 3 == 0) ? RandomBytes(rng, 1200) : Damage(rng, good);
    const auto file = dir.Write("WX118ini.txt", content);
    RecordingUi ui;
    RecordingSink sink;
    StationConfig station;
    const bool ok = LoadPrimaryConfig(station, file, ui, sink);
    if (ok) {
      ++sound;
      ConvertSensorIds(station);
    }
    EXPECT_EQ(ui.terminateCalls, ok ? 0 : 1);
    EXPECT_LE(station.windTable, 6);
    EXPECT_LE(station.windOffset, 15);
    EXPECT_LE(station.adapterPort, 9);
    ExpectReadableMessages(ui.messages);
    ExpectReadableMessages(sink.errors);
    if (!ok) {
      ASSERT_GE(ui.messages.size(), 2u);
    }
  }
  EXPECT_GT(sound, 0);  // the damage sometimes leaves a usable file
}

TEST(ConfigRobustnessTest, SecondaryLoaderSurvivesAnyBytes) {
  const std::string good =
      "abWX118ini2\r\n[enis]\r\nwgi=a.jpg\r\niri=600\r\n[FieldLabels]\r\np0fL=\"Out \"\r\n"
      "[swg]\r\nwgp=D:\\web\r\nhsi=$258\r\n[LineOffsetScale]\r\np0a=10\r\np0m=5000\r\n"
      "[ChannelColors]\r\np0c=FF8000\r\np1c=S0080FF\r\n[WindowPosnsAndSizes]\r\n"
      "SchemeAW1=0,0,799,370\r\n[BarGraphs]\r\np5bg=on\r\n[VariousOne]\r\np11v1=2\r\n"
      "[HTMLMsg]\r\nMsg=hello\r\nPersists=0.5\r\n";
  TempDir dir;
  PathMapper paths(dir.path());
  FakeClock clock;
  std::mt19937 rng(8122026);
  for (int i = 0; i < 3000; ++i) {
    const std::string content = (i % 3 == 0) ? RandomBytes(rng, 1500) : Damage(rng, good);
    dir.Write("c/WX118/WX118ini2.txt", content);
    Settings settings;
    SetDefaultChannelLabels(settings.plot);
    ApplyDefaults(settings);
    NumericView numeric;
    RecordingUi ui;
    RecordingSink sink;
    const bool ok = LoadSecondaryConfig(settings, numeric, "&Show Celcius", paths, clock, ui, sink);
    EXPECT_EQ(ok, content.compare(0, 11, "abWX118ini2") == 0 && content.size() >= 11);
    EXPECT_EQ(ui.terminateCalls, ok ? 0 : 1);
    ExpectReadableMessages(ui.messages);
    ExpectReadableMessages(sink.errors);
    for (int ch : {0, 1, 2, 3, 4, 11, 12}) EXPECT_NE(settings.plot.plotMultiplier[ch], 0);
    EXPECT_LT(settings.plot.channelColour[0], kNoColour);
    EXPECT_FALSE(settings.page.pageFolder.empty());
    EXPECT_EQ(settings.page.pageFolder.back(), '\\');
  }
}

}  // namespace
}  // namespace wx
