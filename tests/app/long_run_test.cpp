// Ten thousand cycles of a whole station on the fake clock: every record in
// the log is whole and of a known kind, every channel is logged at least once
// per chart column, and chips that fail are reported without stopping the rest.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "datalog/stamps.h"
#include "support/monitor_fixture.h"

namespace wx {
namespace {

class LongRunTest : public test::MonitorFixture {
 protected:
  // Counts the records of each tag; fails on any line that is not a whole record.
  std::map<std::string, int> CheckLog() {
    std::map<std::string, int> tags;
    std::istringstream in(ReadDataLog());
    std::string line;
    const std::map<std::string, size_t> lengths = {
        {"t0", 15}, {"t1", 15}, {"t2", 15}, {"t3", 15}, {"t4", 15}, {"rf", 19}, {"ws", 19},
        {"lt", 19}, {"b1", 19}, {"b2", 19}, {"bp", 14}, {"hm", 14}, {"wd", 44}};
    while (std::getline(in, line)) {
      EXPECT_FALSE(line.empty());
      EXPECT_EQ(line.back(), '\r') << line;
      line.pop_back();
      const std::string tag = line.substr(0, 2);
      ++tags[tag];
      if (tag == "cm" || tag == "ss" || tag == "wo") continue;
      auto it = lengths.find(tag);
      EXPECT_NE(it, lengths.end()) << "unknown record: " << line;
      if (it == lengths.end()) continue;
      EXPECT_EQ(line.size(), it->second) << line;
      EXPECT_TRUE(StampToDateTime(line.substr(2, 10)).has_value()) << line;
    }
    return tags;
  }
};

TEST_F(LongRunTest, TenThousandCyclesLogEveryChannelInEveryColumn) {
  auto chips = AllChannels();
  chips[3].program = "temp ramp 5 0.5";
  chips[5].program = "a ramp 0 40";
  chips[8].program = "vad sine 4.5 0.3 2h";
  chips[10].program = "vane a ramp 0 4";
  WriteStation(chips);
  Start();
  for (int i = 0; i < 10000; ++i) ui->RunOneTick();
  EXPECT_EQ(monitor->CycleCount, 10001);
  EXPECT_TRUE(ui->errorLines.empty()) << ui->errorLines.front();
  const auto tags = CheckLog();
  // 10,000 cycles of at least 800 ms: well over 7 columns of 17.28 minutes.
  const int columns = monitor->chart().scrollCounter;
  EXPECT_GE(columns, 7);
  for (const char* tag : {"t0", "t1", "t2", "t3", "t4", "rf", "ws", "lt", "bp", "hm", "b1", "b2"})
    EXPECT_GE(tags.at(tag), columns - 1) << tag;  // the newest column may hold no reading yet
  EXPECT_GE(tags.at("wd"), 10000 / 60 * 6 / 181 - 1);
  EXPECT_EQ(tags.at("cm"), 2 + 1);  // two header lines and the cycles comment at 6000
}

TEST_F(LongRunTest, OneFailingChipOfEachKindDoesNotStopTheOthers) {
  auto chips = AllChannels();
  chips[0].program = "fault stuck-conversion";  // DS18S20: keeps its power-on 85 C
  chips[6].program = "fault absent";            // DS2423 wind speed
  chips[9].program = "fault bit-errors 0.02 5"; // DS2438 humidity
  chips[10].program = "fault stuck-conversion"; // DS2450
  WriteStation(chips);
  Start();
  for (int i = 0; i < 40; ++i) ui->RunOneTick();
  const size_t messagesAfterStart = ui->messages.size();
  for (int i = 40; i < 3000; ++i) ui->RunOneTick();
  EXPECT_EQ(monitor->CycleCount, 3001);
  auto reported = [&](const std::string& text) {
    for (const auto& l : ui->errorLines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(reported("DMLGet1820Tture reported the rogue value of 85 deg C. Err 4 of 9Aug03, with index 0"));
  EXPECT_TRUE(reported("During LookAtWindSpeed, PGMErr: "));
  EXPECT_TRUE(reported("Problem with DMLGetCount "));
  EXPECT_TRUE(reported("During LookAtWindDir,PGMErr: 120 and Dallas error 0"));
  // The modal hint comes only during the first 32 cycles.
  int hints = 0;
  for (const auto& m : ui->messages) hints += m.rfind("PGM Error 20 / Dallas Error 3", 0) == 0;
  EXPECT_GE(hints, 1);
  EXPECT_EQ(ui->messages.size(), messagesAfterStart);
  const auto tags = CheckLog();
  EXPECT_EQ(tags.count("t0"), 0u);
  for (const char* tag : {"t1", "t2", "t3", "t4", "rf", "lt", "bp", "b1", "b2"}) EXPECT_GT(tags.count(tag), 0u) << tag;
  EXPECT_EQ(tags.count("wd"), 0u);
}

}  // namespace
}  // namespace wx
