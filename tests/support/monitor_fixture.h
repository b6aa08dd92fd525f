// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the whole monitor in a temporary folder: a primary file written by the
// test, a simulated station behind the TMEX stand-in, a fake clock and a
// scripted Ui.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/monitor.h"
#include "support/fake_ui.h"
#include "app/demo.h"
#include "tmex/tmex.h"

namespace wx::test {

class MonitorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    work = std::filesystem::temp_directory_path() /
           ("wx118-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
            std::to_string(::getpid()));
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
    oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(work);
    root = work / "root";
  }
  void TearDown() override {
    monitor.reset();
    tmex.reset();
    std::filesystem::current_path(oldCwd);
    std::filesystem::remove_all(work);
  }

  // Writes "WX118ini.txt" and the station file for the given channels.
  void WriteStation(const std::vector<ChannelChip>& chips) {
    station = StationWriter(chips);
    station.WritePrimary(work / "WX118ini.txt");
    station.WriteStationFile(work / "station.txt");
  }
  static std::vector<ChannelChip> AllChannels() { return StationWriter::AllChannels(); }

  void Settings2(const std::string& body) {
    const auto dir = root / "c" / "WX118";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "WX118ini2.txt", std::ios::binary) << "abWX118ini2\r\n" << body;
  }

  void Start() {
    paths = std::make_unique<PathMapper>(root);
    ui = std::make_unique<FakeUi>(clock);
    tmex = std::make_unique<Tmex>(factory ? factory : station.MakeFactory(work / "station.txt", clock));
    monitor = std::make_unique<Monitor>(clock, *ui, *paths, *tmex);
    ui->Attach(monitor.get(), &monitor->views.main);
    monitor->FormCreate();
  }
  void Restart() {
    monitor.reset();
    tmex.reset();
    Start();
  }

  static std::string ReadFile(const std::filesystem::path& p) { return test::ReadFile(p); }
  std::string ReadDataLog() const { return ReadFile(root / "c" / "WX18DtLg.txt"); }
  std::string ReadErrorLog() const { return ReadFile(root / "c" / "WX18ErLg.txt"); }
  // The data log lines written since the last call (or since logSize was
  // set), without their CR LF; a line without CR fails the test.
  std::vector<std::string> NewLogLines() {
    std::ifstream in(root / "c" / "WX18DtLg.txt", std::ios::binary);
    in.seekg(static_cast<std::streamoff>(logSize));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    logSize += text.size();
    std::vector<std::string> lines;
    std::istringstream ss(text);
    for (std::string l; std::getline(ss, l);) {
      EXPECT_FALSE(l.empty() || l.back() != '\r') << "line without CR: " << l;
      if (!l.empty() && l.back() == '\r') l.pop_back();
      lines.push_back(l);
    }
    return lines;
  }
  std::filesystem::path PagePath() const { return root / "c" / "WX118WG.htm"; }

  FakeClock clock{*EncodeDateTime(2026, 12, 7, 12, 0, 0)};
  std::filesystem::path work, root, oldCwd;
  StationWriter station;
  std::unique_ptr<PathMapper> paths;
  std::unique_ptr<FakeUi> ui;
  BackendFactory factory;  // when set, in place of the station file's bus
  std::unique_ptr<Tmex> tmex;
  std::unique_ptr<Monitor> monitor;
  size_t logSize = 0;
};

}  // namespace wx::test
