// SPDX-License-Identifier: GPL-2.0-or-later
// A long run of the whole station on the fake clock, one cycle per simulated
// minute, with faults on a weekly schedule: chips that vanish for hours, a
// stuck conversion, bit errors, a full disk, a page folder that disappears,
// the wall clock jumping an hour each way, the tick counter wrapping, and
// restarts in between. The run must never stop cycling, every data log line
// must be a whole record that the history replay reads without complaint,
// the error log must hold the reports of every fault and nothing of a fault
// outside its window, and every restart must replay the log cleanly.
//
// The CI run is one week; WX118_SOAK_DAYS=30 (scripts/run-soak.sh) runs a month.
// The simulated network first: Qt's keyword macros would clash with it.
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/sim_network.h"
#include "tmex/sim/station_file.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sys/resource.h>

#include <csetjmp>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include "archive/archive_db.h"
#include "datalog/records.h"
#include "datalog/stamps.h"
#include "support/monitor_fixture.h"

namespace wx {
namespace {

namespace fs = std::filesystem;

constexpr double kMinute = 1.0 / 1440.0;

int SoakDays() {
  const char* v = std::getenv("WX118_SOAK_DAYS");
  const int days = v ? std::atoi(v) : 7;
  return days > 0 ? days : 7;
}

using RecordingSink = test::RecordingErrors;

// Reads data log lines with the history replay's own record reader: a line it
// reports, skips or would quit on is not a sound record.
class RecordChecker {
 public:
  RecordChecker() : ui_(clock_), chart_(settings_, ui_), paths_("/nonexistent"),
        dataLog_(settings_.files, paths_, clock_, ui_, sink_, main_),
        replay_(chart_, settings_, channels_, dataLog_, numeric_, nullptr, sink_, ui_, paths_, clock_) {
    ApplyDefaults(settings_);
    chart_.CreateBitmap();
  }

  // "" when the line (without its line end) is a whole record of a known kind.
  std::string Problem(const std::string& line) {
    if (line.size() < 12) return "too short";
    if (line.find_first_of("\r\n") != std::string::npos) return "line end inside the line";
    const RecordLine record = ReadRecordLine(line);
    if (!record.time) return "unreadable stamp";
    if (record.freeText) {
      if (record.text.rfind("(machine generated) Cycles since start:", 0) == 0 ||
          record.text.rfind("- - System started, WX118 version: ", 0) == 0 ||
          record.text.rfind("- - Wind Dir Offset:", 0) == 0)
        return "";
      return "unknown comment";
    }
    if (record.fault == RecordFault::NotARecord) return "unknown tag";
    if (record.fault != RecordFault::None) return "not a whole record (fault " + std::to_string(int(record.fault)) + ")";
    sink_.errors.clear();
    ui_.messages.clear();
    replay_.ReplayRecord(line);
    if (!sink_.errors.empty()) return "replay reported: " + sink_.errors.front();
    if (!ui_.messages.empty()) return "replay showed: " + ui_.messages.front();
    return "";
  }

 private:
  FakeClock clock_;
  test::FakeUi ui_;
  Settings settings_;
  StripChart chart_;
  PathMapper paths_;
  RecordingSink sink_;
  MainView main_;
  NumericView numeric_;
  ChannelState channels_;
  DataLog dataLog_;
  HistoryReplay replay_;
};

struct JpegErrorJump {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

// Whole-file check of a picture: decodes without error or warning to 780 x 237.
bool JpegIsWhole(const std::string& bytes) {
  if (bytes.size() < 4 || bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") != 0) return false;
  jpeg_decompress_struct cinfo{};
  JpegErrorJump err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegErrorJump*>(c->err)->jump, 1); };
  err.mgr.output_message = [](j_common_ptr) {};
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  std::vector<unsigned char> row(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&cinfo, &r, 1);
  }
  const bool ok = cinfo.output_width == 780 && cinfo.output_height == 237 && err.mgr.num_warnings == 0;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

// A fault switched on and off at given minutes of the run; `expect` is the
// text of the reports it must cause (and that nothing else causes).
struct FaultWindow {
  std::string name;
  std::string expect;
  std::vector<std::string> also;  // other reports it may cause
  std::string quietTag;           // records that must not appear inside the window
  int fromMinute = 0, toMinute = 0;
  std::function<void(bool)> set;
  DateTime from = 0, to = 0;  // the program's clock when it was switched
};

// An error log line: "N: message STAMP".
struct ErrorLine {
  std::string text;
  DateTime time = 0;
};

class SoakTest : public test::MonitorFixture {
 protected:
  void SetUp() override {
    MonitorFixture::SetUp();
    // Every record is synced to disk; on a memory file system that costs
    // nothing, so the run measures the program and not the disk.
    std::error_code ec;
    const fs::path shm = "/dev/shm";
    if (fs::is_directory(shm, ec) && ::access(shm.c_str(), W_OK) == 0) {
      const fs::path moved = shm / work.filename();
      fs::remove_all(moved, ec);
      if (fs::create_directories(moved, ec)) {
        fs::current_path(moved);
        fs::remove_all(work, ec);
        work = moved;
        root = work / "root";
      }
    }
  }
  void TearDown() override {
    RestoreFileSizeLimit();
    MonitorFixture::TearDown();
    net_.reset();
  }

  void StartOnNetwork() {
    paths = std::make_unique<PathMapper>(root);
    ui = std::make_unique<test::FakeUi>(clock);
    tmex = std::make_unique<Tmex>(MakeSimBackendFactory(*net_));
    monitor = std::make_unique<Monitor>(clock, *ui, *paths, *tmex);
    ui->Attach(monitor.get(), &monitor->views.main);
    monitor->FormCreate();
    ++starts_;
  }

  // Stops the monitor in order and starts it again on the same station; the
  // new run must replay the old log without a complaint and draw it.
  // With the clock behind the newest records, the start says so once.
  void RestartAndCheckReplay(const std::string& when, bool clockBehind = false) {
    SCOPED_TRACE("restart " + when);
    monitor.reset();
    tmex.reset();
    StartOnNetwork();
    EXPECT_FALSE(ui->TerminateRequested());
    EXPECT_TRUE(monitor->views.main.timerEnabled);
    EXPECT_TRUE(ui->messages.empty()) << ui->messages.front();
    int ahead = 0;
    for (const std::string& l : ui->errorLines) {
      if (clockBehind && l.find(" newer than this machine's clock ") != std::string::npos) ++ahead;
      else ADD_FAILURE() << "replay complained: " << l;
    }
    EXPECT_EQ(ahead, clockBehind ? 1 : 0) << "records ahead of the clock";
    EXPECT_GT(monitor->replay().linesDispatched(), 100);
    EXPECT_GT(ChartPixelsDrawn(), 200);
  }

  int ChartPixelsDrawn() {
    const RgbImage& img = monitor->chart().Bitmap();
    int n = 0;
    for (int y = 0; y < img.Height(); ++y)
      for (int x = 0; x < img.Width() - 1; ++x) n += (img.Pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    return n;
  }

  // Makes every write past `bytes` fail with EFBIG, as a full disk would.
  // SIGXFSZ is left as it is: the program itself must not die of it.
  void LimitFileSize(rlim_t bytes) {
    if (!limited_) {
      getrlimit(RLIMIT_FSIZE, &savedLimit_);
      limited_ = true;
    }
    rlimit r = savedLimit_;
    r.rlim_cur = bytes;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &r), 0);
  }
  void RestoreFileSizeLimit() {
    if (!limited_) return;
    setrlimit(RLIMIT_FSIZE, &savedLimit_);
    limited_ = false;
  }

  std::vector<ErrorLine> ErrorLogLines() {
    std::vector<ErrorLine> out;
    std::istringstream in(ReadErrorLog());
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
      EXPECT_TRUE(!line.empty() && line.back() == '\r') << "error log line without CR LF: " << line;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (first) {
        EXPECT_EQ(line.rfind("WX118 Error log. Created by the program ", 0), 0u) << line;
        first = false;
        continue;
      }
      std::optional<DateTime> t;
      if (line.size() > 9) t = StampToDateTime(line.substr(line.size() - 8) + "00");
      const size_t colon = line.find(": ");
      EXPECT_TRUE(t && colon != std::string::npos && colon > 0 &&
                  line.find_first_not_of("0123456789") == colon)
          << "error log line not numbered and stamped: " << line;
      if (t) out.push_back({line, *t});
    }
    return out;
  }

  std::shared_ptr<SimNetwork> net_;
  int starts_ = 0;
  bool limited_ = false;
  rlimit savedLimit_{};
};

TEST_F(SoakTest, ThroughFaultsKillsAndClockJumpsEveryRecordStaysWhole) {
  const int days = SoakDays();
  auto chips = AllChannels();
  chips[0].program = "temp sine 6 8 24h";
  chips[3].program = "temp walk 10 0.3 5";
  chips[5].program = "a ramp 0 12";
  chips[6].program = "a walk 5000 400 3";  // counts never go down: a gusty cup counter
  chips[7].program = "a ramp 0 1";
  chips[8].program = "vad sine 4.2 0.3 30h";
  chips[9].program = "vad sine 2.5 0.8 24h";
  chips[10].program = "vane a walk 6 0.7 11";
  chips[11].program = "a steps 0h=0 50h=3 90h=7";
  chips[12].program = "a ramp 0 0.5";
  WriteStation(chips);
  const fs::path www = work / "www";
  fs::create_directories(www);
  Settings2("[swg]\r\nwgp=" + www.string() + "\r\nhsi=600\r\n[enis]\r\niri=600\r\n");

  // The tick counter wraps on the fourth day (at 49.7 days it would anyway).
  const uint32_t wrapAfterMs = 3u * 86400000u + 11u * 3600000u;
  clock.SetTicks(static_cast<uint32_t>(0u - wrapAfterMs));
  std::string error;
  net_ = LoadStation((work / "station.txt").string(), clock, error);
  ASSERT_TRUE(net_) << error;
  auto chip = [&](int channel) {
    SimChip* c = net_->FindByName("C" + std::to_string(channel));
    EXPECT_NE(c, nullptr);
    return c;
  };
  const DateTime runStart = clock.Now();
  StartOnNetwork();
  ASSERT_FALSE(ui->TerminateRequested());
  ASSERT_EQ(ui->messages.size(), 1u);  // the new data log
  EXPECT_EQ(ui->messages[0].rfind("Unable to find old data log.", 0), 0u);

  // The weekly schedule (minutes from the start of each week).
  auto at = [](int day, int hour, int minute = 0) { return (day * 24 + hour) * 60 + minute; };
  std::vector<FaultWindow> faults;
  std::multimap<int, std::function<void()>> events;
  rlim_t fullAt = 0;
  for (int week = 0; week * 7 < days; ++week) {
    const int w = week * 7 * 1440;
    auto fault = [&](std::string name, std::string expect, std::vector<std::string> also, int from, int to,
                     std::function<void(bool)> set, std::string quietTag = "") {
      if (w + to <= days * 1440)
        faults.push_back({std::move(name), std::move(expect), std::move(also), std::move(quietTag), w + from,
                          w + to, std::move(set)});
    };
    fault("rain gauge gone", "During LookAtRain, PGMErr: ", {"Problem with DMLGetCount "}, at(0, 10), at(0, 16),
          [&](bool on) { chip(5)->SetAbsent(on); });
    fault("vane conversion stuck", "During LookAtWindDir,PGMErr: 120 and Dallas error 0", {}, at(1, 3), at(1, 6),
          [&](bool on) { chip(10)->SetStuckConversion(on); });
    // Caught by the scratchpad CRC; a value that passes it may still be out of range.
    fault("humidity bit errors", "During LookAtHum, PGMErr: ", {"rsHumLatest was >9.99"}, at(1, 12), at(1, 16),
          [&](bool on) { chip(9)->SetBitErrors(on ? 0.02 : 0.0, 17); });
    fault("disk full", "WX18DtLg.txt): File too large; line not written",
          {"During ExportGraphJpeg, Cannot create file ", "During WriteWebPage, Cannot create file ",
           "wx118-archive.sqlite: cannot write ("},
          at(6, 1), at(6, 4), [&](bool on) {
            if (!on) return RestoreFileSizeLimit();
            // Room for a part of the next line only, so a write is cut short.
            fullAt = static_cast<rlim_t>(fs::file_size(root / "c" / "WX18DtLg.txt")) + 7;
            ASSERT_LT(fs::file_size(root / "c" / "WX18ErLg.txt") + 20000, fullAt)
                << "the error log must stay writable while the data log is full";
            LimitFileSize(fullAt);
          });
    fault("page folder gone", "During WriteWebPage, Cannot create file " + www.string(),
          {"During ExportGraphJpeg, Cannot create file " + www.string()}, at(2, 13), at(2, 18),
          [&](bool on) {
            if (on) fs::remove_all(www);
            else fs::create_directories(www);
          });
    fault("T2 gone", "During rsTTureR, with index 2 PGMErr: ", {}, at(4, 6), at(4, 14),
          [&](bool on) { chip(2)->SetAbsent(on); }, "t2");
    // A DS18B20 that is gone reads as all ones, which only the CRC tells from -0.06 C.
    fault("T3 gone", "During rsTTureR, with index 3 PGMErr: ", {}, at(4, 16), at(4, 23),
          [&](bool on) { chip(3)->SetAbsent(on); }, "t3");
    fault("wind speed gone, restart inside", "During LookAtWindSpeed, PGMErr: ", {"Problem with DMLGetCount "}, at(5, 2), at(5, 5),
          [&](bool on) { chip(6)->SetAbsent(on); });
    auto event = [&](int minute, std::function<void()> f) {
      if (w + minute < days * 1440) events.emplace(w + minute, std::move(f));
    };
    event(at(0, 20), [&] { RestartAndCheckReplay("after the first day"); });
    event(at(6, 4, 1), [&] { RestartAndCheckReplay("right after the disk was full"); });
    event(at(2, 18, 1), [&] { RestartAndCheckReplay("right after the page folder came back"); });
    event(at(3, 9), [&] { clock.JumpDays(1.0 / 24); });
    event(at(3, 15), [&] { clock.JumpDays(-1.0 / 24); });
    // While the clock is still behind the newest records.
    event(at(3, 15, 44), [&] { RestartAndCheckReplay("after the clock went back", true); });
    event(at(5, 3), [&] { RestartAndCheckReplay("while the wind speed counter is gone"); });
  }

  DateTime latestNow = clock.Now();  // the clock goes back an hour once a week
  RecordChecker checker;
  std::vector<std::pair<std::string, DateTime>> stamped;  // tag and time of every record
  size_t checkedBytes = 0;  // lines before this offset are checked already
  long records = 0;
  auto checkNewRecords = [&] {
    const std::string log = ReadDataLog();
    size_t pos = checkedBytes;
    for (;;) {
      const size_t end = log.find('\n', pos);
      if (end == std::string::npos) break;
      std::string line = log.substr(pos, end - pos);
      pos = end + 1;
      ASSERT_TRUE(!line.empty() && line.back() == '\r') << "line without CR LF: " << line;
      line.pop_back();
      ++records;
      if (records <= 2) continue;  // the header
      const std::string why = checker.Problem(line);
      ASSERT_EQ(why, "") << "data log line " << records << ": " << line;
      const DateTime t = *ReadRecordLine(line).time;
      stamped.emplace_back(line.substr(0, 2), t);
      ASSERT_GE(t, runStart - kMinute) << line;
      ASSERT_LE(t, latestNow + kMinute) << line;
    }
    ASSERT_EQ(pos, log.size()) << "the data log ends in a part line";
    checkedBytes = pos;
  };
  auto checkPublished = [&] {
    const std::string page = ReadFile(www / "WX118WG.htm");
    const std::string tail = "</body>\r\n</html>\r\n";
    ASSERT_GE(page.size(), tail.size());
    EXPECT_EQ(page.compare(0, 8, "<html>\r\n"), 0);
    EXPECT_EQ(page.compare(page.size() - tail.size(), tail.size(), tail), 0);
    EXPECT_TRUE(JpegIsWhole(ReadFile(www / "WX118WG.jpg")));
    for (const auto& e : fs::directory_iterator(www))
      EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();
  };

  const uint32_t tick0 = clock.GetTickCount();
  int32_t expectedCycle = monitor->CycleCount;
  bool wrapped = false;
  int columnsAfterJump = -1, ticksSinceJumpBack = -1, columnsAfterJumpBack = 0;
  size_t sizeWhenFull = 0;
  int folderBack = -1000;
  for (int minute = 1; minute <= days * 1440; ++minute) {
    for (FaultWindow& f : faults) {
      if (f.fromMinute == minute) {
        f.set(true);
        f.from = clock.Now();
        if (f.name == "disk full") sizeWhenFull = fs::file_size(root / "c" / "WX18DtLg.txt");
      }
      if (f.toMinute == minute) {
        if (f.name == "disk full") {
          // Not one byte got through, and no half line is left behind.
          EXPECT_EQ(fs::file_size(root / "c" / "WX18DtLg.txt"), sizeWhenFull);
        }
        f.set(false);
        f.to = clock.Now();
        if (f.name == "page folder gone") folderBack = minute;
      }
    }
    for (auto [it, end] = events.equal_range(minute); it != end; ++it) {
      const int startsBefore = starts_;
      it->second();
      if (starts_ != startsBefore) expectedCycle = monitor->CycleCount;
      if (HasFatalFailure()) return;
    }
    const bool jumpForward = events.count(minute) && (minute % (7 * 1440)) == at(3, 9);
    const bool jumpBack = events.count(minute) && (minute % (7 * 1440)) == at(3, 15);

    // One cycle per minute: the next tick comes when the minute is full.
    const uint32_t due = tick0 + static_cast<uint32_t>(minute) * 60000u;
    const int32_t wait = static_cast<int32_t>(due - clock.GetTickCount());
    if (wait > 0) clock.AdvanceMs(static_cast<uint32_t>(wait));
    if (clock.GetTickCount() < tick0) wrapped = true;
    const int columnsBefore = monitor->chart().scrollCounter;
    ui->RunOneTick();
    latestNow = std::max(latestNow, clock.Now());
    ++expectedCycle;
    ASSERT_EQ(monitor->CycleCount, expectedCycle) << "no cycle in minute " << minute;
    ASSERT_TRUE(monitor->CycleReady);
    const int step = monitor->chart().scrollCounter - columnsBefore;
    ASSERT_TRUE(step == 0 || step == 1) << "the chart moved " << step << " columns in one tick";

    // An hour forward: one column per tick until the column time catches up.
    if (jumpForward) columnsAfterJump = 0;
    if (columnsAfterJump >= 0) {
      columnsAfterJump += step;
      if (minute % (7 * 1440) == at(3, 9) + 4) {
        EXPECT_GE(columnsAfterJump, 3) << "no catching up after the clock went forward";
        columnsAfterJump = -1;
      }
    }
    // An hour back: the column time comes back to now, so the chart goes
    // on (a column every 17.28 minutes) instead of pausing for the hour.
    if (jumpBack) ticksSinceJumpBack = 0, columnsAfterJumpBack = 0;
    if (ticksSinceJumpBack >= 0) {
      columnsAfterJumpBack += step;
      if (++ticksSinceJumpBack == 40) {
        EXPECT_GE(columnsAfterJumpBack, 2) << "the chart paused after the clock went back";
        ticksSinceJumpBack = -1;
      }
    }

    if (minute % 60 == 0) {
      checkNewRecords();
      if (HasFatalFailure()) return;
      // After the folder comes back, the next page and picture go into it.
      if (fs::exists(www) && (fs::exists(www / "WX118WG.htm") || minute - folderBack > 15)) checkPublished();
    }
  }
  RestoreFileSizeLimit();
  checkNewRecords();
  checkPublished();
  EXPECT_TRUE(wrapped || days < 4) << "the run never crossed the tick wrap";

  // The log: one start and one wind-offset record per start, whole records only.
  const std::string log = ReadDataLog();
  int startRecords = 0;
  std::map<std::string, int> tags;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    ++tags[line.substr(0, 2)];
    startRecords += line.find("- - System started, WX118 version: ") == 10;
  }
  EXPECT_EQ(startRecords, starts_);
  EXPECT_EQ(tags["wo"], starts_);
  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string tag(Channel(ch).tag);
    if (Channel(ch).kind != ChannelKind::WindDirection) {
      EXPECT_GT(tags[tag], days * 20) << tag;
    }
  }
  EXPECT_GE(tags["wd"], days * 2);  // one summary per few hundred samples

  // Each fault is in the error log inside its window (the stamp has minute
  // resolution; a reading under way may report a minute after) and nowhere else.
  const std::vector<ErrorLine> errors = ErrorLogLines();
  for (const FaultWindow& f : faults) {
    int inside = 0;
    for (const ErrorLine& e : errors)
      inside += e.text.find(f.expect) != std::string::npos && e.time >= f.from - kMinute &&
                e.time <= f.to + 2 * kMinute;
    EXPECT_GE(inside, 2) << f.name << " is not in the error log";
  }
  int aheadReports = 0;
  for (const ErrorLine& e : errors) {
    if (e.text.find(" newer than this machine's clock ") != std::string::npos) {
      ++aheadReports;  // the restart while the clock was behind
      continue;
    }
    bool explained = false;
    for (const FaultWindow& f : faults) {
      if (e.time < f.from - kMinute || e.time > f.to + 2 * kMinute) continue;
      explained = explained || e.text.find(f.expect) != std::string::npos;
      for (const std::string& a : f.also) explained = explained || e.text.find(a) != std::string::npos;
    }
    EXPECT_TRUE(explained) << "reported outside every fault window: " << e.text;
  }
  EXPECT_EQ(aheadReports, (days + 3) / 7) << "one word per start with the clock behind the log";
  // A chip that is gone logs nothing, and its records come back after it.
  for (const FaultWindow& f : faults) {
    if (f.quietTag.empty()) continue;
    int inside = 0, after = 0;
    for (const auto& [tag, t] : stamped) {
      if (tag != f.quietTag) continue;
      inside += t > f.from + kMinute && t < f.to - kMinute;
      after += t > f.to;
    }
    EXPECT_EQ(inside, 0) << f.name << ": records logged while the chip was gone";
    EXPECT_GT(after, 0) << f.name << ": no records after the chip came back";
  }
  // A record that could not be written is named in the report, so nothing is lost unseen.
  int unwritten = 0;
  for (const ErrorLine& e : errors) unwritten += e.text.find("; line not written: ") != std::string::npos;
  bool diskFull = false;
  for (const FaultWindow& f : faults) diskFull = diskFull || f.name == "disk full";
  if (diskFull) {
    EXPECT_GE(unwritten, 10);
  }
  // The archive says a full disk once, keeps the records it could not write
  // and writes them when there is room again: none is missing.
  ArchiveDb archive;
  ASSERT_TRUE(archive.Open(root / "c" / kArchiveFileName, true)) << archive.Error();
  for (const FaultWindow& f : faults) {
    if (f.name != "disk full") continue;
    int said = 0;
    for (const ErrorLine& e : errors)
      said += e.text.find("wx118-archive.sqlite: cannot write") != std::string::npos && e.time >= f.from - kMinute &&
              e.time <= f.to + 2 * kMinute;
    EXPECT_EQ(said, 1) << "the archive's full disk said once";
    const auto held = archive.Records(ArchiveSeconds(f.from), ArchiveSeconds(f.to));
    EXPECT_GE(held.size(), 35u) << "archive records of the three hours the disk was full";
    EXPECT_FALSE(archive.Records(ArchiveSeconds(f.to), ArchiveSeconds(f.to + 1.0 / 24)).empty())
        << "no archive records after the disk was full";
  }

  std::string counts;
  for (const auto& [tag, n] : tags) counts += " " + tag + "=" + std::to_string(n);
  std::printf("[ soak    ] records:%s\n", counts.c_str());
  std::printf("[ soak    ] %d days, %d cycles in the last run, %d starts, %ld data log lines, %zu error log lines, %zu fault windows\n",
              days, monitor->CycleCount, starts_, records, errors.size(), faults.size());
}

}  // namespace
}  // namespace wx
