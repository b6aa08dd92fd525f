// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "helpers.h"

namespace wx {
namespace {

using test::Master;

// Plain Search ROM over the backend's bit primitives: every ROM on the line.
std::vector<RomCode> SearchAll(BusBackend& bus) {
  std::vector<RomCode> found;
  RomCode last{};
  int lastDiscrepancy = -1;
  for (int guard = 0; guard < 64; ++guard) {
    if (bus.Reset() <= 0) break;
    bus.TouchByte(0xF0);
    RomCode rom{};
    int discrepancy = -1;
    for (int i = 0; i < 64; ++i) {
      const int b = bus.TouchBit(1), c = bus.TouchBit(1);
      if (b && c) return found;  // nobody answered
      int dir;
      if (b != c) {
        dir = b;
      } else {
        dir = i < lastDiscrepancy ? (last[i / 8] >> (i % 8)) & 1 : (i == lastDiscrepancy);
        if (dir == 0) discrepancy = i;
      }
      if (dir) rom[i / 8] |= static_cast<uint8_t>(1 << (i % 8));
      bus.TouchBit(dir);
    }
    found.push_back(rom);
    last = rom;
    lastDiscrepancy = discrepancy;
    if (lastDiscrepancy < 0) break;
  }
  return found;
}

struct NetworkTest : ::testing::Test {
  FakeClock clock;
  SimNetwork net{clock};
  Master m{net};
};

TEST_F(NetworkTest, SearchRomFindsEveryChipOnce) {
  std::set<RomCode> want = {MakeRom(0x28, 0x112233), MakeRom(0x10, 0x112233), MakeRom(0x26, 7),
                            MakeRom(0x1D, 0x800000000001ULL), MakeRom(0x20, 0xFFFFFFFFFFFFULL),
                            MakeRom(0x28, 0x112232)};
  for (const auto& r : want) net.Add(std::make_unique<Ds18x20>(r));  // kind is irrelevant to search
  m.Open();
  auto found = SearchAll(*m.tmex.BackendOf(m.h));
  EXPECT_EQ(found.size(), want.size());
  EXPECT_EQ(std::set<RomCode>(found.begin(), found.end()), want);
  for (const auto& r : found) EXPECT_TRUE(RomCrcValid(r));
}

TEST_F(NetworkTest, SearchSkipsAbsentChipsAndEmptyLineHasNoPresence) {
  m.Open();
  EXPECT_EQ(m.tmex.TMTouchReset(m.h), 0);
  auto& a = net.AddDs18b20(MakeRom(0x28, 1));
  net.AddDs18b20(MakeRom(0x28, 2));
  a.SetAbsent(true);
  EXPECT_EQ(m.tmex.TMTouchReset(m.h), 1);
  auto found = SearchAll(*m.tmex.BackendOf(m.h));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], MakeRom(0x28, 2));
}

TEST_F(NetworkTest, MatchRomSelectsOnlyThatChip) {
  auto& a = net.AddDs18b20(MakeRom(0x28, 1));
  auto& b = net.AddDs18b20(MakeRom(0x28, 2));
  a.SetTemperature(ValueProgram::Constant(10.0));
  b.SetTemperature(ValueProgram::Constant(-10.125));
  m.Open();
  // Convert both through Skip ROM, then read each one by Match ROM.
  ASSERT_EQ(m.tmex.TMTouchReset(m.h), 1);
  m.Send({0xCC, 0x44});
  clock.AdvanceMs(800);
  ASSERT_EQ(m.Select(b.rom()), 1);
  m.Send({0xBE});
  auto pb = m.Read(9);
  EXPECT_EQ(pb[0], 0x5E);
  EXPECT_EQ(pb[1], 0xFF);
  EXPECT_EQ(test::Crc8Of(pb), 0);
  ASSERT_EQ(m.Select(a.rom()), 1);
  m.Send({0xBE});
  auto pa = m.Read(2);
  EXPECT_EQ(pa[0], 0xA0);
  EXPECT_EQ(pa[1], 0x00);
  // A ROM nobody has: Match ROM deselects everyone, the line reads 1s.
  ASSERT_EQ(m.Select(MakeRom(0x28, 3)), 1);
  m.Send({0xBE});
  EXPECT_EQ(m.Read(2), (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST_F(NetworkTest, StrongAccessFailsForAChipThatIsNotThere) {
  net.AddDs18b20(MakeRom(0x28, 1));
  net.AddDs2423(MakeRom(0x1D, 1));
  m.Open();
  EXPECT_EQ(m.Select(MakeRom(0x28, 1), true), 1);
  EXPECT_EQ(m.Select(MakeRom(0x1D, 1), true), 1);
  EXPECT_EQ(m.Select(MakeRom(0x28, 5), true), 0);
  EXPECT_EQ(m.Select(MakeRom(0x20, 1), true), 0);
  // Plain access cannot tell.
  EXPECT_EQ(m.Select(MakeRom(0x28, 5)), 1);
}

TEST_F(NetworkTest, ReadRomSendsTheRomOfTheOnlyChip) {
  const RomCode r = MakeRom(0x1D, 0xABCDEF);
  net.AddDs2423(r);
  m.Open();
  ASSERT_EQ(m.tmex.TMTouchReset(m.h), 1);
  m.Send({0x33});
  auto got = m.Read(8);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), r.begin()));
}

}  // namespace
}  // namespace wx
