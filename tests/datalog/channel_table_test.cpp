// SPDX-License-Identifier: GPL-2.0-or-later
// The channel table against the code that writes and reads records, and the
// slot plan against the rates the monitor keeps.
#include <gtest/gtest.h>

#include "channels/channel_table.h"
#include "datalog/records.h"
#include "datalog/stamps.h"

namespace wx {
namespace {

constexpr const char* kStamp = "26l07o05";

// A record of the channel as its reader writes it, with the value 42.
std::string WrittenRecord(int ch) {
  const std::string tag(Channel(ch).tag);
  switch (Channel(ch).kind) {
    case ChannelKind::Temperature: return TemperatureRecord(ch, kStamp, 42.0f);
    case ChannelKind::Analog: return AnalogRecord(tag, kStamp, 42);
    case ChannelKind::WindDirection: {
      std::array<uint16_t, 17> bins{};
      bins[3] = 42;
      return WindRecord(kStamp, bins);
    }
    default: return CounterRecord(tag, kStamp, 42);
  }
}

TEST(ChannelTableTest, TagsNamesAndRecordLengthsAgreeWithTheWritersAndTheReader) {
  for (int ch = 0; ch < kChannels; ++ch) {
    const ChannelInfo& info = Channel(ch);
    EXPECT_EQ(ChannelOfTag(info.tag), ch) << info.tag;
    EXPECT_EQ(ChannelOfName(info.name), ch) << info.name;
    const std::string line = WrittenRecord(ch);
    EXPECT_EQ(line.substr(0, 2), info.tag);
    EXPECT_EQ(line.size(), info.recordLength) << line;
    EXPECT_EQ(RecordLength(info.tag), info.recordLength);
    const RecordLine r = ReadRecordLine(line);
    EXPECT_EQ(r.fault, RecordFault::None) << line;
    EXPECT_EQ(r.channel, ch);
    EXPECT_EQ(r.time, StampToDateTime(std::string(kStamp) + "  "));
    if (info.kind == ChannelKind::Temperature)
      EXPECT_EQ(r.celsius, 42.0f);
    else if (info.kind == ChannelKind::WindDirection)
      EXPECT_EQ(r.bins.value_or(std::array<uint16_t, 17>{})[3], 42);
    else
      EXPECT_EQ(r.count, 42);
    // A reader accepts the chips of its own kind only.
    EXPECT_EQ(AcceptsFamily(ch, kFamilyDs2423), ReadsCounter(ch)) << ch;
    EXPECT_EQ(AcceptsFamily(ch, kFamilyDs2450), info.kind == ChannelKind::WindDirection) << ch;
  }
  for (const char* other : {"cm", "ss", "wo", "t5", "RF", "r"}) {
    EXPECT_FALSE(ChannelOfTag(other)) << other;
    EXPECT_EQ(RecordLength(other), 0u) << other;
  }
}

TEST(ChannelTableTest, ReaderNamesTheFirstFaultOfALine) {
  const std::string rain = CounterRecord("rf", kStamp, 1234);
  EXPECT_EQ(ReadRecordLine(rain.substr(0, 15)).fault, RecordFault::CutShort);
  EXPECT_EQ(ReadRecordLine(rain.substr(0, 15)).count, 0);  // what is left of the field
  EXPECT_EQ(ReadRecordLine(rain + "9").fault, RecordFault::TooLong);
  EXPECT_EQ(ReadRecordLine(rain + "9").count, 1234);  // the field keeps its width
  EXPECT_EQ(ReadRecordLine("rf26m07o05000001234").fault, RecordFault::BadStamp);
  EXPECT_EQ(ReadRecordLine("rf26l07o0500000x123").fault, RecordFault::BadValue);
  EXPECT_EQ(ReadRecordLine("b126l07o05-00000001").fault, RecordFault::BadValue);
  EXPECT_EQ(ReadRecordLine("b126l07o05-00000001").count, -1);
  EXPECT_EQ(ReadRecordLine("t226l07o05+2x50").fault, RecordFault::BadValue);
  EXPECT_EQ(ReadRecordLine("wd26l07o05" + std::string(33, '0') + "G").fault, RecordFault::BadValue);
  EXPECT_EQ(ReadRecordLine("xx26l07o05").fault, RecordFault::NotARecord);
  const std::string handLine = HandCommentRecord(kStamp, "rain gauge cleaned");  // the views point into it
  const RecordLine hand = ReadRecordLine(handLine);
  EXPECT_TRUE(hand.freeText && hand.time);
  EXPECT_EQ(hand.fault, RecordFault::None);
  EXPECT_EQ(hand.text, " By hand: rain gauge cleaned");
  const std::string headerLine = HeaderTitleLine();
  const RecordLine header = ReadRecordLine(headerLine);
  EXPECT_FALSE(header.time);
  EXPECT_EQ(header.text, " Data Log File for WX118");
}

TEST(ChannelTableTest, SlotPlanReadsEachChannelAtTheMonitorsRate) {
  std::array<int, kChannels> reads{};
  for (const auto& slot : kSlotPlan)
    for (const SlotStep& step : slot)
      if (step.task == SlotTask::Read) ++reads[static_cast<size_t>(step.channel)];
  // Per minute: T0 twice, T1-T4 once, rain and wind speed every ten slots,
  // lightning twice, the on/off channels once.
  const std::pair<int, int> expected[] = {{0, 2}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 6},
                                          {6, 6}, {7, 2}, {11, 1}, {12, 1}};
  for (const auto& [ch, n] : expected) EXPECT_EQ(reads[static_cast<size_t>(ch)], n) << "channel " << ch;
}

}  // namespace
}  // namespace wx
