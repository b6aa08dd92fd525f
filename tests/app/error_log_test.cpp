// SPDX-License-Identifier: GPL-2.0-or-later
// The error log file on its own (rotation, short writes, odd files) and the
// whole monitor with its adapter missing for a month.
#include "app/error_log.h"

#include <sys/stat.h>

#include <cerrno>

#include "support/fakes.h"
#include "support/monitor_fixture.h"

namespace wx {
namespace {

namespace fs = std::filesystem;
using test::MonitorFixture;

std::string Read(const fs::path& p) { return test::ReadFile(p); }

TEST(ErrorLogFileTest, RotatedAwayShortWrittenOrOddFile) {
  test::TempDir dir;
  const fs::path log = dir.path() / "WX18ErLg.txt";
  const std::string header = "WX118 Error log. Created by the program 26l07o05\r\n";
  ErrorLogFile file;
  ASSERT_TRUE(file.Open(log, "26l07o05"));
  ASSERT_TRUE(file.WriteLine("1: a 26l07o05", "26l07o05"));
  // Moved away by log rotation: the next line starts a new file.
  fs::rename(log, dir.path() / "WX18ErLg.txt.1");
  ASSERT_TRUE(file.WriteLine("2: b 26l07o06", "26l07o06"));
  EXPECT_EQ(Read(dir.path() / "WX18ErLg.txt.1"), header + "1: a 26l07o05\r\n");
  EXPECT_EQ(Read(log),
            "WX118 Error log. Created by the program 26l07o06\r\n2: b 26l07o06\r\n");
  // Half a line, then a full disk: the half is taken back.
  const std::string before = Read(log);
  bool first = true;
  file.SetWriteFunction([&](int fd, const void* data, size_t size) -> ssize_t {
    if (first) {
      first = false;
      return ::write(fd, data, size / 2);
    }
    errno = ENOSPC;
    return -1;
  });
  EXPECT_FALSE(file.WriteLine("3: torn 26l07o06", "26l07o06"));
  EXPECT_EQ(Read(log), before);
  EXPECT_NE(file.Reason().find("No space"), std::string::npos) << file.Reason();
  file.SetWriteFunction([](int fd, const void* d, size_t n) { return ::write(fd, d, n); });
  ASSERT_TRUE(file.WriteLine("4: c 26l07o06", "26l07o06"));
  EXPECT_EQ(Read(log), before + "4: c 26l07o06\r\n");
  file.Close();
  // A FIFO must not hang, a link to /dev/zero must not be taken for a log.
  fs::remove(log);
  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  EXPECT_FALSE(file.Open(log, "26l07o06"));
  EXPECT_EQ(file.Reason(), "it is a FIFO, not a regular file");
  fs::remove(log);
  fs::create_symlink("/dev/zero", log);
  EXPECT_FALSE(file.Open(log, "26l07o06"));
}

TEST(RepeatCollapserTest, FirstPowersOfTenAndTheEndOfARun) {
  RepeatCollapser r;
  constexpr double kMinute = 1.0 / 1440.0;
  const double t0 = 46000.5;
  std::vector<std::string> written;
  for (int i = 1; i <= 120; ++i) {
    if (auto line = r.Pass("Sensor lost", static_cast<uint16_t>(i), t0 + i * kMinute, "s" + std::to_string(i)))
      written.push_back(*line);
    // Another message between the repeats does not break the run.
    if (i == 50) {
      ASSERT_TRUE(r.Pass("Other", 999, t0 + i * kMinute, "x").has_value());
    }
  }
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[0], "1: Sensor lost s1");
  EXPECT_EQ(written[1], "10: Sensor lost (the same message 10 times since number 1 at s1; the repeats between "
                        "are not logged) s10");
  EXPECT_EQ(written[2].rfind("100: Sensor lost (the same message 100 times", 0), 0u);
  EXPECT_TRUE(r.Ended(t0 + 122 * kMinute).empty());  // two minutes quiet: still running
  const auto ended = r.Ended(t0 + 126 * kMinute);
  ASSERT_EQ(ended.size(), 1u);  // "Other" came once: nothing more to say of it
  EXPECT_EQ(ended[0], "120: Sensor lost (the last of 120 times since number 1 at s1; not seen since) s120");
  // After the end the message counts as new again.
  EXPECT_EQ(r.Pass("Sensor lost", 121, t0 + 130 * kMinute, "s121"), "121: Sensor lost s121");
}

TEST_F(MonitorFixture, AdapterMissingForAMonthAddsLessThanAMegabyte) {
  WriteStation(AllChannels());
  bool plugged = false;
  factory = [&, bus = station.MakeFactory(work / "station.txt", clock)](int port, int type) {
    return plugged ? bus(port, type) : std::unique_ptr<BusBackend>();
  };
  Start();
  const auto errorLog = root / "c" / "WX18ErLg.txt";
  const auto before = fs::file_size(errorLog);
  // One schedule round every four minutes (a round takes 48 s): a month of
  // every failure, without running each of its 3 million ticks.
  auto round = [&] {
    for (int t = 0; t < 60; ++t) ui->RunOneTick();
    clock.AdvanceMs(4 * 60 * 1000 - 60 * 800);
  };
  // The window's memory: what its view keeps after a day and after the month.
  const auto& memo = monitor->views.errors.Memo1;
  auto bytes = [&] {
    size_t n = 0;
    for (const std::string& line : memo) n += line.size();
    return n;
  };
  for (int i = 0; i < 360; ++i) round();
  const size_t linesAfterADay = memo.size(), bytesAfterADay = bytes();
  for (int i = 360; i < 30 * 360; ++i) round();
  const uint16_t errorsInTheMonth = monitor->ErrorCount;
  EXPECT_EQ(memo.size(), kErrorViewLines);
  EXPECT_EQ(linesAfterADay, kErrorViewLines);
  EXPECT_LE(bytes(), bytesAfterADay + bytesAfterADay / 20);
  EXPECT_EQ(memo[kErrorViewHead].rfind("Older messages are in the error log C:/WX18ErLg.txt", 0), 0u);
  const auto added = fs::file_size(errorLog) - before;
  EXPECT_LT(added, 1000u * 1000u);
  EXPECT_LT(ui->errorLines.size(), 1000u);
  // Plugged in again: each collapsed run gets its closing line.
  plugged = true;
  for (int i = 0; i < 5; ++i) round();
  const std::string log = ReadErrorLog();
  for (const char* fault : {"During LookAtRain, PGMErr: 10", "During rsTTureR, with index 4 PGMErr: 10"}) {
    const size_t first = log.find(fault);
    ASSERT_NE(first, std::string::npos) << fault;
    EXPECT_NE(log.find(std::string(fault) + " and Dallas error -200 (the same message 10000 times"), std::string::npos);
    EXPECT_NE(log.find(std::string(fault) + " and Dallas error -200 (the last of ", first), std::string::npos)
        << fault;
  }
  // The window has shown every message; numbering goes on through the repeats.
  EXPECT_EQ((memo.size() + monitor->views.errors.Memo1Dropped - kErrorViewHead) % 65536, errorsInTheMonth);
}

}  // namespace
}  // namespace wx
