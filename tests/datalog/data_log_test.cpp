// SPDX-License-Identifier: GPL-2.0-or-later
#include "datalog/data_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/fakes.h"
#include "datalog/records.h"
#include "datalog/stamps.h"

namespace wx {
namespace {

namespace fs = std::filesystem;

class DataLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/wx118-datalog-XXXXXX";
    root_ = mkdtemp(tmpl);
    mapper_ = PathMapper(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path LogFile() const { return root_ / "c" / "WX18DtLg.txt"; }
  static std::string Read(const fs::path& p) { return test::ReadFile(p); }
  std::unique_ptr<DataLog> Make() {
    auto log = std::make_unique<DataLog>(files_, mapper_, clock_, ui_, sink_, view_);
    log->SetQuitPath([this] { ++quits_; });
    log->LogDataToFile = true;
    return log;
  }

  fs::path root_;
  FileLocations files_;
  PathMapper mapper_{"/nonexistent"};
  FakeClock clock_{*EncodeDateTime(2026, 12, 7, 14, 5, 9)};
  test::ScriptedUi ui_;
  test::RecordingErrors sink_;
  MainView view_;
  int quits_ = 0;
};

TEST_F(DataLogTest, FirstRunCreatesFolderAndHeaderSecondRunAddsNothing) {
  {
    auto log = Make();
    log->OpenDataLog();
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0], "Unable to find old data log. A new one will be created at C:/WX18DtLg.txt"
                               " (that is " + LogFile().string() + ")");
    EXPECT_TRUE(log->IsOpen());
    EXPECT_TRUE(view_.buQuitEnabled);
    EXPECT_EQ(Read(LogFile()),
              "cm Data Log File for WX118\r\ncm created:(following is date/time, encoded) 26l07o05\r\n");
    log->AppendLogLine(StartRecord("26l07o05"));
  }
  ui_.messages.clear();
  auto log = Make();
  log->OpenDataLog();
  EXPECT_TRUE(ui_.messages.empty());
  log->AppendLogLine("t026l07o06+2150");
  EXPECT_EQ(Read(LogFile()),
            "cm Data Log File for WX118\r\ncm created:(following is date/time, encoded) 26l07o05\r\n"
            "ss26l07o05- - System started, WX118 version: 1 Sept 10\r\nt026l07o06+2150\r\n");
  EXPECT_TRUE(sink_.errors.empty());
  EXPECT_EQ(quits_, 0);
}

TEST_F(DataLogTest, HeaderIsWrittenEvenWhileLoggingIsOff) {
  auto log = Make();
  log->LogDataToFile = false;
  log->OpenDataLog();
  EXPECT_FALSE(log->IsOpen());
  EXPECT_EQ(Read(LogFile()).find("cm created:"), 28u);
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(DataLogTest, LogThatIsNoRegularFileQuitsWithTheReason) {
  // A folder, a FIFO (which must not hang the start) and a device.
  for (const std::string kind : {"folder", "fifo", "device"}) {
    fs::remove_all(root_ / "c");
    fs::create_directories(root_ / "c");
    files_.dataLogPath = kind == "device" ? "/dev/full" : "C:/WX18DtLg.txt";
    if (kind == "folder") fs::create_directories(LogFile());
    if (kind == "fifo") {
      ASSERT_EQ(::mkfifo(LogFile().c_str(), 0600), 0);
    }
    const int quitsBefore = quits_;
    auto log = Make();
    log->OpenDataLog();
    ASSERT_FALSE(ui_.messages.empty()) << kind;
    EXPECT_EQ(ui_.messages.back().rfind("Unable to establish Data Log File ", 0), 0u) << kind;
    EXPECT_NE(ui_.messages.back().find("not a regular file"), std::string::npos) << ui_.messages.back();
    EXPECT_FALSE(log->LogDataToFile) << kind;
    EXPECT_EQ(quits_, quitsBefore + 1) << kind;
  }
}

TEST_F(DataLogTest, RotatedOrEmptiedLogIsStartedAgainWithItsHeader) {
  const std::string header =
      "cm Data Log File for WX118\r\ncm created:(following is date/time, encoded) 26l07o05\r\n";
  auto log = Make();
  log->OpenDataLog();
  log->AppendLogLine("t026l07o05+2150");
  // Moved away (logrotate without create): the next line starts a new file.
  fs::rename(LogFile(), LogFile().string() + ".1");
  log->AppendLogLine("t126l07o05+1875");
  EXPECT_EQ(Read(LogFile().string() + ".1"), header + "t026l07o05+2150\r\n");
  EXPECT_EQ(Read(LogFile()), header + "t126l07o05+1875\r\n");
  ASSERT_EQ(sink_.errors.size(), 1u);
  EXPECT_NE(sink_.errors[0].find("was gone"), std::string::npos) << sink_.errors[0];
  // Moved away and an empty file put in its place (logrotate with create).
  fs::rename(LogFile(), LogFile().string() + ".2");
  std::ofstream(LogFile(), std::ios::binary).close();
  log->AppendLogLine("t026l07o06+2150");
  log->AppendLogLine("t126l07o06+1875");
  EXPECT_EQ(Read(LogFile()), header + "t026l07o06+2150\r\nt126l07o06+1875\r\n");
  EXPECT_EQ(sink_.errors.size(), 2u);
  EXPECT_TRUE(ui_.messages.size() == 1u);  // no box in the middle of a run
}

TEST_F(DataLogTest, EmptyLogAtStartIsANewOne) {
  fs::create_directories(LogFile().parent_path());
  std::ofstream(LogFile(), std::ios::binary).close();  // killed right after creating it
  auto log = Make();
  log->OpenDataLog();
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].rfind("Unable to find old data log. A new one will be created at C:/WX18DtLg.txt", 0), 0u);
  EXPECT_EQ(Read(LogFile()),
            "cm Data Log File for WX118\r\ncm created:(following is date/time, encoded) 26l07o05\r\n");
  EXPECT_TRUE(log->IsOpen());
}

TEST_F(DataLogTest, LineIsVisibleToAnotherProcessAtOnce) {
  auto log = Make();
  log->OpenDataLog();
  log->AppendLogLine("rf26l07o05000000007");
  const std::string expect = "rf26l07o05000000007\r\n";
  const pid_t child = fork();
  if (child == 0) {
    std::ifstream in(LogFile(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string all = ss.str();
    _exit(all.size() >= expect.size() && all.compare(all.size() - expect.size(), expect.size(), expect) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(DataLogTest, ShortWriteLeavesNoTornLine) {
  auto log = Make();
  log->OpenDataLog();
  log->AppendLogLine("t026l07o05+2150");
  const std::string before = Read(LogFile());
  bool first = true;
  bool busyDuringWrite = false, quitEnabledDuringWrite = true;
  log->SetWriteFunction([&](int fd, const void* data, size_t size) -> ssize_t {
    busyDuringWrite = log->DataLogWriteBusy;
    quitEnabledDuringWrite = view_.buQuitEnabled;
    if (first) {
      first = false;
      return ::write(fd, data, size / 2);  // half a line, then the disk is full
    }
    errno = ENOSPC;
    return -1;
  });
  log->AppendLogLine("t126l07o05+1875");
  EXPECT_TRUE(busyDuringWrite);
  EXPECT_FALSE(quitEnabledDuringWrite);
  EXPECT_FALSE(log->DataLogWriteBusy);
  EXPECT_EQ(Read(LogFile()), before);
  ASSERT_EQ(sink_.errors.size(), 1u);
  EXPECT_NE(sink_.errors[0].find("AppendLogLine"), std::string::npos);
  EXPECT_NE(sink_.errors[0].find("t126l07o05+1875"), std::string::npos);
  EXPECT_TRUE(view_.buQuitEnabled);
  log->SetWriteFunction([](int fd, const void* d, size_t n) { return ::write(fd, d, n); });
  log->AppendLogLine("t126l07o06+1875");
  EXPECT_EQ(Read(LogFile()), before + "t126l07o06+1875\r\n");
}

TEST_F(DataLogTest, LineCutShortIsEndedMarkedAndReported) {
  auto log = Make();
  log->OpenDataLog();
  {
    std::ofstream out(LogFile(), std::ios::binary | std::ios::app);
    out << "t026l07o0";  // a line cut short by a crash
  }
  sink_.errors.clear();
  log->AppendLogLine("t026l07o06+2150");
  log->AppendLogLine("t126l07o06+2150");
  const std::string all = Read(LogFile());
  const std::string marker = CutShortCommentRecord(StampNow(clock_));
  EXPECT_EQ(all.substr(all.size() - (11 + marker.size() + 2 + 34)),
            "t026l07o0\r\n" + marker + "\r\nt026l07o06+2150\r\nt126l07o06+2150\r\n");
  ASSERT_EQ(sink_.errors.size(), 1u);  // once, for the line that was cut short
  EXPECT_NE(sink_.errors[0].find("cut short"), std::string::npos);
  EXPECT_NE(sink_.errors[0].find("\"t026l07o0\""), std::string::npos) << sink_.errors[0];
}

TEST_F(DataLogTest, LostLineFeedAloneIsRestored) {
  auto log = Make();
  log->OpenDataLog();
  std::ofstream(LogFile(), std::ios::binary | std::ios::app) << "t026l07o06+2150\r";
  sink_.errors.clear();
  log->AppendLogLine("t126l07o06+2150");
  const std::string all = Read(LogFile());
  EXPECT_EQ(all.substr(all.size() - 34), "t026l07o06+2150\r\nt126l07o06+2150\r\n");
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(DataLogTest, LineBreaksInsideALineAreFlattened) {
  auto log = Make();
  log->OpenDataLog();
  log->AppendLogLine("cm26l07o05 By hand: a\r\nb");
  const std::string all = Read(LogFile());
  const std::string expect = "cm26l07o05 By hand: a  b\r\n";
  EXPECT_EQ(all.substr(all.size() - expect.size()), expect);
}

TEST_F(DataLogTest, HandCommentPrefixRules) {
  auto log = Make();
  log->OpenDataLog();
  ui_.inputs = {"cm rain gauge cleaned", "Cmx", "", "CMcm", "c"};
  for (int i = 0; i < 5; ++i) log->buInsCmntClick();
  log->buInsCmntClick();  // cancelled: empty default
  EXPECT_EQ(ui_.inputCaptions[0], "Add comment to Weather datafile");
  EXPECT_EQ(ui_.inputPrompts[0],
            "What you enter will be prefixed 'cm<datestamp> By hand:' and a date/timestamp");
  const std::string all = Read(LogFile());
  EXPECT_NE(all.find("\r\ncm26l07o05 By hand:  rain gauge cleaned\r\n"
                     "cm26l07o05 By hand: x\r\n"
                     "cm26l07o05 By hand: \r\n"
                     "cm26l07o05 By hand: cm\r\n"
                     "cm26l07o05 By hand: c\r\n"
                     "cm26l07o05 By hand: \r\n"),
            std::string::npos)
      << all;
}

TEST_F(DataLogTest, HandCommentRefusedWhileLogIsClosed) {
  auto log = Make();
  log->OpenDataLog();
  log->LogDataToFile = false;
  log->Close();
  const auto before = Read(LogFile());
  log->buInsCmntClick();
  EXPECT_TRUE(ui_.inputCaptions.empty());
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_NE(ui_.messages[1].find("closed"), std::string::npos);
  // Logging stops while the box is open: the text is shown back, not dropped.
  log->LogDataToFile = true;
  ui_.inputs = {"vane replaced"};
  ui_.duringInput = [&] { log->LogDataToFile = false; };
  log->buInsCmntClick();
  EXPECT_NE(ui_.messages.back().find("vane replaced"), std::string::npos);
  EXPECT_EQ(Read(LogFile()), before);
}

}  // namespace
}  // namespace wx
