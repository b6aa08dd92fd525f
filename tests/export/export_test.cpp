// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <QJsonDocument>
#include <QJsonObject>

#include "export/log_export.h"

namespace wx {
namespace {

// Stamps are local time: the offset must follow the zone's summer time.
struct ExportFixture : ::testing::Test {
  std::string savedTz;
  bool hadTz = false;
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) savedTz = tz, hadTz = true;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz) setenv("TZ", savedTz.c_str(), 1); else unsetenv("TZ");
    tzset();
  }
  std::string out;
  std::vector<std::string> problems;
  std::string Export(const ExportOptions& options, std::string_view log) {
    out.clear();
    problems.clear();
    LogExporter e(options, [&](std::string_view s) { out.append(s); },
                  [&](std::string_view p) { problems.emplace_back(p); });
    e.Feed(log);
    e.Finish();
    return out;
  }
};

constexpr std::string_view kLog =
    "cm Data Log File for WX118\r\n"
    "ss26g01o05- - System started, WX118 version: 1 Sept 10\r\n"
    "wo26g01o05- - Wind Dir Offset:2. Using lookup table:a.\r\n"
    "t026g01o05-0325\r\n"
    "rf26g01o05000001000\r\n"
    "wd26g01o050000000300000000000000000000000000\r\n"
    "bp26l07o050412\r\n"
    "t126l07o05+21\r\n"                       // torn: a power cut mid-write
    "hm26x07o050500\r\n"                      // month x: no real date
    "cm26l07o05 By hand: rain, \"lots\"\r\n"
    "t226l08a00+0100";                        // last line without its line end

TEST_F(ExportFixture, CsvRowsCarryLocalTimeRawValuesBinsAndCommentsAndSkipTornLines) {
  const std::string csv = Export(ExportOptions{}, kLog);
  const std::string empties(17, ',');
  // Rows one by one, for readable failures; text with a comma or quote is quoted.
  std::vector<std::string> rows;
  for (size_t at = 0; at < csv.size();) {
    const size_t end = csv.find('\n', at);
    rows.push_back(csv.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(rows.size(), 10u) << csv;
  EXPECT_EQ(rows[1], ",cm,,,,,Data Log File for WX118" + empties);
  EXPECT_EQ(rows[2], "2026-07-01T14:05:00+02:00,ss,,,,,\"- - System started, WX118 version: 1 Sept 10\"" + empties);
  EXPECT_EQ(rows[4], "2026-07-01T14:05:00+02:00,t0,T0,-3.25,,," + empties);
  EXPECT_EQ(rows[5], "2026-07-01T14:05:00+02:00,rf,rain,1000,,," + empties);
  // Bin 3 is the most frequent; the vane offset of the "wo" record turns it to ESE.
  EXPECT_EQ(rows[6], "2026-07-01T14:05:00+02:00,wd,wind_direction,3,,,ESE,0,0,0,3,0,0,0,0,0,0,0,0,0,0,0,0,0");
  EXPECT_EQ(rows[7], "2026-12-07T14:05:00+01:00,bp,pressure,412,,," + empties);
  EXPECT_EQ(rows[8], "2026-12-07T14:05:00+01:00,cm,,,,,\"By hand: rain, \"\"lots\"\"\"" + empties);
  EXPECT_EQ(rows[9], "2026-12-08T00:00:00+01:00,t2,T2,1.00,,," + empties);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].rfind("line 8: cut short", 0), 0u) << problems[0];
  EXPECT_EQ(problems[1].rfind("line 9: its date/time stamp", 0), 0u) << problems[1];
}

TEST_F(ExportFixture, JsonLinesWithUnitsDatesAndChannels) {
  ExportOptions o;
  o.format = ExportOptions::Format::Jsonl;
  o.units.present = true;
  o.units.fahrenheit = true;
  o.units.mapped[8] = true;
  o.units.offset[8] = 800;
  o.units.factor[8] = 50;
  o.units.unit[8] = "hPa";
  std::string error;
  ASSERT_TRUE(ParseExportChannels("t0, pressure,4", o, error)) << error;
  EXPECT_FALSE(ParseExportChannels("T9", o, error));
  ASSERT_TRUE(ParseExportChannels("T0,pressure,comments", o, error));
  o.fromDate = ParseExportDate("2026-07-01");
  o.toDate = ParseExportDate("2026-12-07");
  EXPECT_FALSE(ParseExportDate("2026-02-30"));
  EXPECT_EQ(Export(o, kLog),
            "{\"time\":\"2026-07-01T14:05:00+02:00\",\"tag\":\"ss\",\"text\":\"- - System started, WX118 version: 1 Sept 10\"}\n"
            "{\"time\":\"2026-07-01T14:05:00+02:00\",\"tag\":\"wo\",\"text\":\"- - Wind Dir Offset:2. Using lookup table:a.\"}\n"
            "{\"time\":\"2026-07-01T14:05:00+02:00\",\"tag\":\"t0\",\"channel\":\"T0\",\"raw\":-3.25,\"value\":26.15,\"unit\":\"°F\"}\n"
            "{\"time\":\"2026-12-07T14:05:00+01:00\",\"tag\":\"bp\",\"channel\":\"pressure\",\"raw\":412,\"value\":1006,\"unit\":\"hPa\"}\n"
            "{\"time\":\"2026-12-07T14:05:00+01:00\",\"tag\":\"cm\",\"text\":\"By hand: rain, \\\"lots\\\"\"}\n");
}

TEST_F(ExportFixture, DerivedRowsGiveEachDaysRainAndExtremesAfterTheDay) {
  ExportOptions o;
  o.derived = true;
  o.channels.fill(false);
  o.comments = false;
  constexpr std::string_view log =
      "rf26l07a00000000100\r\nt026l07a00+0200\r\nrf26l07m00000000110\r\nt026l07o05+0850\r\n"
      "rf26l08b00000000112\r\nt026l08b00-0100\r\n";
  EXPECT_EQ(Export(o, log),
            "time,tag,channel,raw,value,unit,text,bin0,bin1,bin2,bin3,bin4,bin5,bin6,bin7,bin8,bin9,bin10,bin11,"
            "bin12,bin13,bin14,bin15,bin16\n"
            "2026-12-07T14:05:00+01:00,dv,rain_day,,2.54,mm" + std::string(18, ',') + "\n"
            "2026-12-07T00:00:00+01:00,dv,T0_low,,2,°C" + std::string(18, ',') + "\n"
            "2026-12-07T14:05:00+01:00,dv,T0_high,,8.5,°C" + std::string(18, ',') + "\n"
            "2026-12-08T01:00:00+01:00,dv,rain_day,,0.51,mm" + std::string(18, ',') + "\n"
            "2026-12-08T01:00:00+01:00,dv,T0_low,,-1,°C" + std::string(18, ',') + "\n"
            "2026-12-08T01:00:00+01:00,dv,T0_high,,-1,°C" + std::string(18, ',') + "\n");
  o.format = ExportOptions::Format::Jsonl;
  o.toDate = ParseExportDate("2026-12-07");
  const std::string jsonl = Export(o, log);
  EXPECT_EQ(jsonl.substr(0, jsonl.find('\n')),
            "{\"time\":\"2026-12-07T14:05:00+01:00\",\"tag\":\"dv\",\"channel\":\"rain_day\",\"value\":2.54,"
            "\"unit\":\"mm\"}");
  EXPECT_EQ(jsonl.find("2026-12-08"), std::string::npos);
}

TEST_F(ExportFixture, SingleByteCommentsBecomeUtf8InBothFormats) {
  // Hand-written on the old platform: Windows-1252, one part looking like (overlong) UTF-8.
  constexpr std::string_view kLatin =
      "cm26l07o05 \xC0\xA0la ferme\r\n"
      "cm26l07o05 \x93new\x94 vane at 3\xB0" "C\r\n";
  const char* const expected[] = {"\xC3\x80\xC2\xA0la ferme", "“new” vane at 3°C"};
  ExportOptions o;
  o.format = ExportOptions::Format::Jsonl;
  const std::string jsonl = Export(o, kLatin);
  size_t at = 0;
  for (const char* text : expected) {
    const size_t end = jsonl.find('\n', at);
    ASSERT_NE(end, std::string::npos) << jsonl;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(jsonl.substr(at, end - at)), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << jsonl;
    EXPECT_EQ(doc.object()["text"].toString(), QString::fromUtf8(text));
    at = end + 1;
  }
  const std::string csv = Export(ExportOptions{}, kLatin);
  for (const char* text : expected)
    EXPECT_NE(csv.find(std::string("+01:00,cm,,,,,") + text + ",,,"), std::string::npos) << csv;
}

TEST_F(ExportFixture, AnOverlongLineIsSkippedWithoutBeingHeldAndTheNextOneCounts) {
  const std::string huge(3 * LogExporter::kMaxLine, 'x');
  ExportOptions o;
  o.format = ExportOptions::Format::Jsonl;
  out.clear();
  LogExporter e(o, [&](std::string_view s) { out.append(s); }, [&](std::string_view p) { problems.emplace_back(p); });
  for (size_t at = 0; at < huge.size(); at += 1000) e.Feed(std::string_view(huge).substr(at, 1000));
  e.Feed("\nt026l07o05+2150\n");
  e.Finish();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("line 1: longer than any record", 0), 0u);
  EXPECT_EQ(out, "{\"time\":\"2026-12-07T14:05:00+01:00\",\"tag\":\"t0\",\"channel\":\"T0\",\"raw\":21.50}\n");
}

TEST_F(ExportFixture, RepeatedHourGetsItsSecondOffsetAndOldCenturiesStay) {
  ExportOptions o;
  o.format = ExportOptions::Format::Jsonl;
  o.presentYear = 2026;
  std::string error;
  ASSERT_TRUE(ParseExportChannels("T0", o, error));
  // 25 Oct 2026: 02:00-02:59 comes twice, first in summer time.
  const std::string jsonl = Export(o,
                                   "t026j25c10+0100\nt026j25c56+0100\nt026j25c00+0100\nt026j25c30+0100\n"
                                   "t026j25d00+0100\nt026j26c10+0100\nt099g01o05+0100\nt070a01a00+0100\n");
  std::vector<std::string> times;
  for (size_t at = 0; (at = jsonl.find("\"time\":\"", at)) != std::string::npos; at += 8)
    times.push_back(jsonl.substr(at + 8, 25));
  EXPECT_EQ(times, (std::vector<std::string>{"2026-10-25T02:10:00+02:00", "2026-10-25T02:56:00+02:00",
                                             "2026-10-25T02:00:00+01:00", "2026-10-25T02:30:00+01:00",
                                             "2026-10-25T03:00:00+01:00", "2026-10-26T02:10:00+01:00",
                                             "1999-07-01T14:05:00+02:00", "1970-01-01T00:00:00+01:00"}));
  EXPECT_FALSE(ParseExportChannels(" , ", o, error));
  EXPECT_NE(error.find("names no channel"), std::string::npos);
}

TEST_F(ExportFixture, CommandRefusesMonitorFilesAndNonRegularInputsAndReplacesItsOutputWhole) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("wx118_export_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "c");
  const std::string log = (dir / "c" / "WX18DtLg.txt").string();
  const std::string text = std::string(kLog) + "\n";
  std::ofstream(log, std::ios::binary) << text;
  std::ofstream(dir / "c" / "WX18ErLg.txt") << "errors\n";
  fs::create_symlink(log, dir / "link");
  fs::create_hard_link(log, dir / "hard");
  const std::string root = "--root=" + dir.string();
  for (const fs::path& out : {fs::path(log), dir / "link", dir / "hard", dir / "c" / "WX18ErLg.txt"}) {
    EXPECT_EQ(RunExportCommand({log, "--output", out.string(), root}), 2) << out;
    EXPECT_EQ(RunExportCommand({"--output", out.string(), root}), 2) << out;  // the default log
  }
  std::ifstream in(log, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
  // A new export takes the old output's place by rename: a new inode, no temporary left.
  const fs::path out = dir / "out.csv";
  std::ofstream(out) << "old\n";
  struct stat before {}, after {};
  ::stat(out.c_str(), &before);
  EXPECT_EQ(RunExportCommand({log, "--output", out.string(), root}), 0);
  ::stat(out.c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(fs::file_size(out), Export(ExportOptions{}, text).size());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(RunExportCommand({(dir / "fifo").string(), "--output", out.string()}), 1);
  EXPECT_EQ(RunExportCommand({"/dev/zero", "--output", out.string()}), 1);
  EXPECT_EQ(RunExportCommand({log, "--channels", ",", "--output", out.string()}), 2);
  EXPECT_EQ(fs::file_size(out), Export(ExportOptions{}, text).size());  // left as it was
  fs::remove_all(dir);
}

// What the export assumes is said once on standard error: where it looked for
// [Units], and each unit it falls back on.
TEST_F(ExportFixture, CommandSaysWhereItLookedForUnitsAndWhichUnitsItAssumes) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("wx118_units_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "c" / "WX118");
  const std::string log = (dir / "c" / "WX18DtLg.txt").string();
  std::ofstream(log, std::ios::binary) << kLog;
  const std::string root = "--root=" + dir.string(), out = "--output=" + (dir / "o.csv").string();
  const auto run = [&](std::vector<std::string> args) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunExportCommand(args), 0);
    return testing::internal::GetCapturedStderr();
  };
  const fs::path ini2 = dir / "c" / "WX118" / "WX118ini2.txt";
  const auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  std::string err = run({log, root, out});
  EXPECT_EQ(count(err, "no [Units] found"), 1u) << err;
  EXPECT_NE(err.find(ini2.string()), std::string::npos) << err;

  std::ofstream(ini2) << "abWX118ini2\r\n[swg]\r\nhsi=60\r\n";
  err = run({log, root, out});
  EXPECT_EQ(count(err, "no [Units] section in " + ini2.string()), 1u) << err;

  std::ofstream(ini2) << "abWX118ini2\r\n[Units]\r\nTemperature=F\r\np5f=0.2794\r\np6f=2.4\r\np8f=50\r\np8u=mbar\r\n";
  err = run({log, root, out});
  EXPECT_EQ(count(err, "wx118 export: [Units] has no p5u=: Rain is given in mm.\n"), 1u) << err;
  EXPECT_EQ(count(err, "wx118 export: [Units] has no p6u=: Wind speed is given without a unit.\n"), 1u) << err;
  EXPECT_EQ(count(err, "[Units]"), 2u) << err;  // Temperature and p8u were given; p7 and p9 are not converted
  fs::remove_all(dir);
}

}  // namespace
}  // namespace wx
