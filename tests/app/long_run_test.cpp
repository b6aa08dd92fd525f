// SPDX-License-Identifier: GPL-2.0-or-later
// Ten thousand cycles of a whole station on the fake clock, checked cycle by
// cycle. Every chip follows a known value program (a temperature step, counter
// ramps, a pressure sine, a turning vane), so after each cycle the test knows
// which channels were read, what each must show on the numeric window, where
// it must be plotted in the newest column, and - by the record rules - which
// records the cycle must have appended, with which values. Every error line
// must be one that a failing chip explains.
// The simulated network first: its slots() must be declared before Qt's
// headers make "slots" a keyword.
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/station_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "platform/numeric_text.h"
#include "datalog/stamps.h"
#include "platform/text_encoding.h"
#include "support/monitor_fixture.h"

namespace wx {
namespace {

constexpr double kHour = 3600.0;
constexpr int kCycles = 10000;

// The channels a slot reads, in the order the cycle reads them, and whether it
// is a wind-average slot.
struct SlotWork {
  std::vector<int> channels;
  bool windAverage = false;
};

SlotWork Work(int slot) {
  const int units = slot % 10, tens = slot / 10;
  static const int kTemperatureAt4[6] = {9, 1, 2, 0, 3, 4};
  switch (units) {
    case 0: return {{6}};
    case 1: return tens == 0 ? SlotWork{} : SlotWork{{tens == 3 ? 9 : 8}};
    case 2: return {{tens == 0 ? 0 : tens == 3 ? 7 : 10}};
    case 3: return tens == 0 ? SlotWork{{7, 11, 12}} : SlotWork{};
    case 4: return {{kTemperatureAt4[tens]}};
    case 7: return {{5}};
    case 9: return {{}, true};
    default: return {{10}};
  }
}

// The chip programs of the station, and the values they give at simulation
// time s (seconds since the station started).
std::vector<ChannelChip> Programs() {
  return {{0, "10", "temp const -3.5"},
          {1, "28", "temp steps 0=20 1.5h=22.5"},
          {2, "26", "temp const 18.25; vad const 0"},
          {3, "28", "temp const 16.0625"},
          {4, "10", "temp const 15.5"},
          {5, "1D", "a ramp 0 40"},
          {6, "1D", "a ramp 1000 3000"},
          {7, "1D", "a steps 0=0 1h=3 2h=7"},
          {8, "26", "vad sine 4.5 0.3 2h; temp const 20"},
          {9, "26", "vad const 3; temp const 20"},
          {10, "20", "vane a ramp 3 1"},
          {11, "1D", "a steps 0=0 1h=5 1.2h=9"},
          {12, "1D", "a const 7"}};
}

float Celsius(int k, double s) {
  static const float kConst[5] = {-3.5f, 0, 18.25f, 16.0625f, 15.5f};
  if (k == 1) return s < 1.5 * kHour ? 20.0f : 22.5f;
  return kConst[k];
}

// The record field of each value the temperatures take.
std::string TemperatureField(float c) {
  static const std::map<float, std::string> kFields = {{-3.5f, "-0350"}, {20.0f, "+2000"}, {22.5f, "+2250"},
                                                       {18.25f, "+1825"}, {16.0625f, "+1606"}, {15.5f, "+1550"}};
  return kFields.at(c);
}

int64_t Count(int ch, double s) {
  const double h = s / kHour;
  switch (ch) {
    case 5: return static_cast<int64_t>(std::floor(40 * h));
    case 6: return static_cast<int64_t>(std::floor(1000 + 3000 * h));
    case 7: return h < 1 ? 0 : h < 2 ? 3 : 7;
    case 11: return h < 1 ? 0 : h < 1.2 ? 5 : 9;
    default: return 7;
  }
}

double BaroHundredths(double s) { return 100 * (4.5 + 0.3 * std::sin(2 * M_PI * s / (2 * kHour))); }
int VaneIndex(double s) { return static_cast<int>(std::floor(3 + s / kHour)) % 16; }

std::string Nine(int64_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%09lld", static_cast<long long>(v));
  return b;
}

// Failure modes of the second run, by channel.
enum class Fault { kNone, kAbsent, kStuck, kStopsLater };

class LongRunTest : public test::MonitorFixture {
 protected:
  // Counter, pressure and humidity traces get bands of their own, so that no
  // channel's pixel can hide another's in the same column. The page is
  // written daily rather than at every tick (the page has tests of its own).
  void PlotBands() {
    Settings2(
        "[swg]\r\nhsi=86400\r\n"
        "[LineOffsetScale]\r\n"
        "p5a=100\r\np5m=1000\r\n"
        "p6a=140\r\np6m=10\r\n"
        "p7a=170\r\np7m=1000\r\n"
        "p8a=0\r\np8m=1000\r\n"
        "p9a=0\r\np9m=1000\r\n");
  }

  // As Start(), with the simulated network kept here for its clock.
  void StartWithNetwork() {
    std::string error;
    net = LoadStation((work / "station.txt").string(), clock, error);
    ASSERT_TRUE(net) << error;
    paths = std::make_unique<PathMapper>(root);
    ui = std::make_unique<test::FakeUi>(clock);
    tmex = std::make_unique<Tmex>(MakeSimBackendFactory(*net));
    monitor = std::make_unique<Monitor>(clock, *ui, *paths, *tmex);
    ui->Attach(monitor.get(), &monitor->views.main);
    monitor->FormCreate();
  }

  // Runs the cycles and checks each against the model; faults[ch] says how a
  // channel's chip fails.
  void RunAndCheck(const std::array<Fault, kChannels>& faults) {
    auto chips = Programs();
    for (auto& c : chips) {
      switch (faults[c.channel]) {
        case Fault::kAbsent: c.program += "; fault absent"; break;
        case Fault::kStuck: c.program += "; fault stuck-conversion"; break;
        // 100 good pressure readings of six selections (search and match each).
        case Fault::kStopsLater: c.program += "; fault stop-after 1200"; break;
        default: break;
      }
    }
    WriteStation(chips);
    PlotBands();
    StartWithNetwork();
    ASSERT_TRUE(monitor->views.main.timerEnabled);
    logSize = std::filesystem::file_size(root / "c" / "WX18DtLg.txt");
    size_t messagesAfterHints = 0;

    NumericView& n = monitor->views.numeric;
    const StripChart& chart = monitor->chart();
    const auto& colour = monitor->settings.plot.channelColour;
    LabelView* counterLabel[kChannels] = {};
    counterLabel[5] = &n.laRF;
    counterLabel[6] = &n.laWS;
    counterLabel[7] = &n.laLT;
    counterLabel[11] = &n.laOnOff1;
    counterLabel[12] = &n.laOnOff2;

    // The model: the record rules' state, kept from what the station did.
    std::array<int32_t, kChannels> reads{}, lastLogged{};
    std::array<bool, kChannels> logged{};
    std::array<float, 5> lastT{999, 999, 999, 999, 999};
    std::array<bool, 3> hasPrevious{}, previousChanged{};
    std::array<int64_t, 3> previous{};
    std::array<uint16_t, 17> histogram{};
    int windReads = 0, windRecords = 0, pressureFailures = 0;
    const uint8_t offset = monitor->settings.station.windOffset;

    for (int i = 0; i < kCycles; ++i) {
      if (i == 40) messagesAfterHints = ui->messages.size();
      const int32_t cycle = monitor->CycleCount;
      const SlotWork work = Work(cycle % 60);
      const int scrollsBefore = chart.scrollCounter;
      // The window shows every message (the log collapses repeats).
      const uint16_t errorsBefore = monitor->ErrorCount;
      const double sBefore = net->NowUs() / 1e6;
      // Labels the cycle is to write are marked, so a stale text is caught.
      for (int ch : work.channels) {
        if (ch < 5) n.laTture[ch].text = "stale";
        else if (counterLabel[ch]) counterLabel[ch]->text = "stale";
        else if (ch == 8) n.laBP.text = "stale";
        else if (ch == 9) n.laHum.text = "stale";
        else if (ch == 10) n.laWDb.text = "stale";
      }
      if (work.windAverage) n.laWDa.text = "stale";

      ui->RunOneTick();
      ASSERT_EQ(monitor->CycleCount, cycle + 1);
      const double sAfter = net->NowUs() / 1e6 + 1e-3;
      const bool scrolled = chart.scrollCounter != scrollsBefore;
      const int column = scrolled ? kNewestColumn - 1 : kNewestColumn;
      const std::vector<std::string> records = NewLogLines();
      std::vector<std::string> expected, expectedErrors;
      auto pixelIs = [&](int row, uint32_t c) { return chart.Bitmap().Pixel(column, row) == ToRgb32(c); };
      const std::string at = " at cycle " + std::to_string(cycle);

      for (int ch : work.channels) {
        if (ch < 5) {
          ++reads[ch];
          if (faults[ch] == Fault::kAbsent) {
            expectedErrors.push_back("During rsTTureR, with index " + std::to_string(ch) +
                                     " PGMErr: 104 and Dallas error 0");
            EXPECT_EQ(n.laTture[ch].text, "stale") << at;
            continue;
          }
          if (faults[ch] == Fault::kStuck) {
            expectedErrors.push_back(
                "DMLGet1820Tture reported the rogue value of 85 deg C. Err 4 of 9Aug03, with index " +
                std::to_string(ch));
            EXPECT_EQ(n.laTture[ch].text, "stale") << at;
            continue;
          }
          float t = Celsius(ch, sBefore);
          if (n.laTture[ch].text != FormatTture(CelsiusToFahrenheit(t))) t = Celsius(ch, sAfter);
          EXPECT_EQ(n.laTture[ch].text, FormatTture(CelsiusToFahrenheit(t))) << "T" << ch << at;
          EXPECT_TRUE(pixelIs(chart.TtureRow(ch, t), colour[ch])) << "T" << ch << at;
          const bool changed = t != lastT[ch];
          lastT[ch] = t;
          const int phase = reads[ch] % 120;
          if ((changed && (phase == 1 || phase == 2)) || !logged[ch]) {
            expected.push_back("t" + std::to_string(ch) + TemperatureField(t));
            logged[ch] = true;
          }
        } else if (counterLabel[ch]) {
          ++reads[ch];
          const bool onOff = ch >= 11;
          const int32_t period = ch == 5 || ch == 6 ? 100 : 35;
          int64_t count = 0;
          if (faults[ch] == Fault::kAbsent) {
            expectedErrors.push_back("Problem with DMLGetCount 40 and Dallas error 0");
            if (!onOff)
              expectedErrors.push_back(std::string(ch == 6   ? "During LookAtWindSpeed"
                                                   : ch == 5 ? "During LookAtRain"
                                                             : "During LookLightning") +
                                       ", PGMErr: 40 and Dallas error 0");
            // The failed reading is dropped: nothing shown, plotted or logged.
            EXPECT_EQ(counterLabel[ch]->text, "stale") << at;
            continue;
          } else {
            const int64_t lo = Count(ch, sBefore), hi = Count(ch, sAfter);
            const int o = ch - 10;
            if (onOff && !hasPrevious[o]) {
              // The first on/off reading is recorded but not shown.
              EXPECT_EQ(counterLabel[ch]->text, "stale") << at;
              count = lo;
              if (records.size() > expected.size() && records[expected.size()].substr(0, 2) == "b" + std::to_string(o))
                count = std::stoll(records[expected.size()].substr(10));
            } else {
              count = std::stoll(counterLabel[ch]->text == "stale" ? "-1" : counterLabel[ch]->text);
            }
            EXPECT_GE(count, lo) << "channel " << ch << at;
            EXPECT_LE(count, hi) << "channel " << ch << at;
            if (onOff) {
              if (hasPrevious[o]) {
                const bool changed = count != previous[o];
                const int level = changed ? 1 : 0;
                EXPECT_TRUE(pixelIs(chart.OnOffLevelRow(o, level), colour[ch])) << "on/off " << o << at;
                if (changed != previousChanged[o]) {
                  // A transition: the step covers both level rows.
                  EXPECT_TRUE(pixelIs(chart.OnOffLevelRow(o, 1 - level), colour[ch])) << "on/off " << o << at;
                }
                previousChanged[o] = changed;
              }
              previous[o] = count;
              hasPrevious[o] = true;
            }
          }
          if (!onOff) {
            EXPECT_TRUE(pixelIs(chart.CounterRow(static_cast<int32_t>(count), ch), colour[ch])) << ch << at;
          }
          const bool rose = ch == 6 ? count > lastLogged[ch] + 100 : count > lastLogged[ch];
          if (rose || reads[ch] % period == 1 || !logged[ch]) {
            static const std::map<int, std::string> kTags = {{5, "rf"}, {6, "ws"}, {7, "lt"}, {11, "b1"}, {12, "b2"}};
            expected.push_back(kTags.at(ch) + Nine(count));
            logged[ch] = true;
            lastLogged[ch] = static_cast<int32_t>(count);
          }
        } else if (ch == 8 || ch == 9) {
          LabelView& label = ch == 8 ? n.laBP : n.laHum;
          const bool failed = faults[ch] == Fault::kStopsLater && label.text == "stale";
          if (failed) {
            ++pressureFailures;
            expectedErrors.push_back("During LookAtBaro, PGMErr: 40 and Dallas error 0");
            expectedErrors.push_back("rsBaroLatest was >9.99 at line 1 of 10Aug03");
            continue;
          }
          // Once it has fallen silent the pressure chip stays silent.
          if (ch == 8) {
            EXPECT_EQ(pressureFailures, 0) << at;
          }
          ++reads[ch];
          const int h = std::stoi(label.text == "stale" ? "-1" : label.text);
          if (ch == 9) {
            EXPECT_EQ(h, 300) << at;
          } else {
            const double a = BaroHundredths(sBefore), b = BaroHundredths(sAfter);
            // Rounded to 10 mV by the chip, then truncated from single precision.
            EXPECT_GE(h, std::floor(std::min(a, b)) - 1) << at;
            EXPECT_LE(h, std::ceil(std::max(a, b))) << at;
          }
          EXPECT_TRUE(pixelIs(chart.AnalogRow(ch, h), colour[ch])) << ch << at;
          if (reads[ch] % (ch == 8 ? 50 : 30) == 1 || !logged[ch]) {
            char field[8];
            std::snprintf(field, sizeof field, "%04d", h);
            expected.push_back((ch == 8 ? "bp" : "hm") + std::string(field));
            logged[ch] = true;
          }
        } else {  // wind direction sample
          if (faults[ch] == Fault::kStuck) {
            expectedErrors.push_back("During LookAtWindDir,PGMErr: 120 and Dallas error 0");
            EXPECT_EQ(n.laADC[0].text, "---") << at;
            continue;
          }
          const int index = std::stoi(n.laWDb.text == "stale" ? "-1" : n.laWDb.text);
          EXPECT_TRUE(index == VaneIndex(sBefore) || index == VaneIndex(sAfter)) << index << at;
          EXPECT_EQ(n.laWDi.text, CompassLabel(index, offset)) << at;
          ++histogram[index];
          ++windReads;
        }
      }
      if (work.windAverage) {
        if (windReads > 180) {
          std::string hex;
          uint8_t m = 0;
          for (int b = 0; b < 17; ++b) {
            char two[8];
            std::snprintf(two, sizeof two, "%02X", histogram[b]);
            hex += two;
            if (histogram[b] >= histogram[m]) m = static_cast<uint8_t>(b);
          }
          expected.push_back("wd" + hex);
          EXPECT_EQ(n.laWDa.text, CompassLabel(m, offset)) << at;
          EXPECT_TRUE(pixelIs(StripChart::WindDirRow(m), kWindDirColour)) << at;
          EXPECT_TRUE(pixelIs(StripChart::WindDirRow(m) + 1, kWindDirColour)) << at;
          histogram = {};
          windReads = 0;
          ++windRecords;
        } else {
          EXPECT_EQ(n.laWDa.text, "stale") << at;
        }
      }
      if (cycle % 6000 == 0) expected.push_back("cm(machine generated) Cycles since start:" + std::to_string(cycle));
      if (scrolled) logged = {};

      // The records of the cycle, in order, stamped within the cycle.
      std::vector<std::string> got;
      for (const std::string& r : records) {
        ASSERT_GE(r.size(), 10u) << r;
        const auto when = StampToDateTime(r.substr(2, 10));
        ASSERT_TRUE(when.has_value()) << r;
        EXPECT_GE(*when, std::floor(clock.Now() * 1440 - 5) / 1440) << r << at;
        EXPECT_LE(*when, clock.Now()) << r << at;
        got.push_back(r.substr(0, 2) + r.substr(10));
      }
      ASSERT_EQ(got, expected) << at;
      std::vector<std::string> errors;
      const auto& memo = monitor->views.errors.Memo1;
      for (size_t e = memo.size() - static_cast<uint16_t>(monitor->ErrorCount - errorsBefore); e < memo.size(); ++e) {
        const std::string& line = memo[e];
        const size_t colon = line.find(": ");
        errors.push_back(line.substr(colon + 2, line.size() - colon - 2 - 9));  // number and stamp off
      }
      ASSERT_EQ(errors, expectedErrors) << at;
    }

    EXPECT_EQ(monitor->CycleCount, kCycles + 1);
    // 10,000 cycles of at least 800 ms: well over 7 columns of 17.28 minutes.
    EXPECT_GE(chart.scrollCounter, 7);
    EXPECT_EQ(windRecords > 0, faults[10] == Fault::kNone);
    if (faults[8] == Fault::kStopsLater) {
      EXPECT_GT(pressureFailures, 0);
    }
    // The modal device hint comes only in the first 32 cycles.
    for (size_t m = messagesAfterHints; m < ui->messages.size(); ++m)
      ADD_FAILURE() << "late message: " << ui->messages[m];
  }

  std::shared_ptr<SimNetwork> net;
};

TEST_F(LongRunTest, TenThousandCyclesGiveTheExpectedReadingsPlotsAndRecords) {
  RunAndCheck({});
  EXPECT_TRUE(ui->errorLines.empty());
  // Values at the end of the run, as shown (the default unit is Fahrenheit).
  const NumericView& n = monitor->views.numeric;
  EXPECT_EQ(n.laTture[0].text, FormatTture(CelsiusToFahrenheit(-3.5f)));
  EXPECT_EQ(n.laTture[1].text, FormatTture(CelsiusToFahrenheit(22.5f)));
  EXPECT_EQ(n.laLT.text, "7");
  EXPECT_EQ(n.laOnOff2.text, "7");
  EXPECT_EQ(n.laHum.text, "300");
  // Rows of two constant channels, worked out by hand: -3.5 C with offset 0
  // wraps to 236 - 233; 300 hundredths at multiplier 1000 is 30 rows up.
  EXPECT_EQ(monitor->chart().TtureRow(0, -3.5f), 3);
  EXPECT_EQ(monitor->chart().AnalogRow(9, 300), 206);
  const RgbImage& bitmap = monitor->chart().Bitmap();
  for (int col = 0; col < kGraphWidth - monitor->chart().scrollCounter; col += 97)
    EXPECT_NE(bitmap.Pixel(col, 3), ToRgb32(monitor->settings.plot.channelColour[0])) << "before the run, column " << col;
  for (int col = kGraphWidth - monitor->chart().scrollCounter; col < kNewestColumn; ++col) {
    EXPECT_EQ(bitmap.Pixel(col, 3), ToRgb32(monitor->settings.plot.channelColour[0])) << col;
    EXPECT_EQ(bitmap.Pixel(col, 206), ToRgb32(monitor->settings.plot.channelColour[9])) << col;
  }
}

TEST_F(LongRunTest, OneFailingChipOfEachKindGivesItsMessagesAndTheOthersGoOn) {
  std::array<Fault, kChannels> faults{};
  faults[0] = Fault::kAbsent;       // DS18S20
  faults[1] = Fault::kStuck;        // DS18B20: keeps its power-on 85 C
  faults[8] = Fault::kStopsLater;   // DS2438
  faults[6] = Fault::kAbsent;       // DS2423
  faults[10] = Fault::kStuck;       // DS2450
  RunAndCheck(faults);
  int hints = 0;
  for (const auto& m : ui->messages) hints += m.rfind("PGM Error 20 / Dallas Error 3", 0) == 0;
  EXPECT_GE(hints, 1);
  // The absent wind-speed counter never showed or logged a made-up count.
  EXPECT_EQ(monitor->views.numeric.laWS.text, "stale");
  EXPECT_EQ(ReadDataLog().find("\nws"), std::string::npos);
}

}  // namespace
}  // namespace wx
