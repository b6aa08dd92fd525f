// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "helpers.h"
#include "tmex/ds2480b/serial_backend.h"

namespace wx {
namespace {

using test::Master;

struct SessionTest : ::testing::Test {
  SessionTest() { net.SetAdapter(5, 1); }
  FakeClock clock;
  SimNetwork net{clock};
  Master m{net};
};

TEST_F(SessionTest, WrongPortOrTypeFailsToStart) {
  EXPECT_LT(m.tmex.TMExtendedStartSession(2, 5, nullptr), 1);
  EXPECT_LT(m.tmex.TMExtendedStartSession(1, 6, nullptr), 1);
  const int32_t h = m.tmex.TMExtendedStartSession(1, 5, nullptr);
  EXPECT_GE(h, 1);
  EXPECT_EQ(m.tmex.TMValidSession(h), 1);
}

TEST_F(SessionTest, AdapterThatDoesNotAnswerFailsSetUp) {
  net.SetAdapterAnswers(false);
  ASSERT_GE(m.Start(), 1);
  EXPECT_EQ(m.tmex.TMSetup(m.h), kTmexSetupNoAdapter);
  EXPECT_EQ(m.tmex.TMTouchReset(m.h), kTmexErrNotSetUp);
  EXPECT_EQ(m.tmex.TMTouchByte(m.h, 0xFF), kTmexErrNotSetUp);
}

TEST_F(SessionTest, StaleSessionIsReplacedByTheNextOne) {
  net.AddDs18b20(MakeRom(0x28, 1));
  m.Open();
  const int32_t stale = m.h;
  // The owner gave up mid-transaction and never ended the session.
  ASSERT_EQ(m.Select(MakeRom(0x28, 1)), 1);
  m.Send({0x44});
  net.SetStrongPullup(true);
  const int32_t fresh = m.Start();
  ASSERT_GE(fresh, 1);
  EXPECT_NE(fresh, stale);
  EXPECT_FALSE(net.strongPullup());  // the old backend was closed
  EXPECT_EQ(m.tmex.TMValidSession(stale), 0);
  EXPECT_EQ(m.tmex.TMTouchByte(stale, 0xFF), kTmexErrInvalidSession);
  EXPECT_EQ(m.tmex.TMEndSession(stale), kTmexErrInvalidSession);
  ASSERT_EQ(m.tmex.TMSetup(fresh), 1);
  EXPECT_EQ(m.tmex.TMTouchReset(fresh), 1);
  EXPECT_EQ(m.tmex.TMEndSession(fresh), 1);
  EXPECT_EQ(m.tmex.TMValidSession(fresh), 0);
}

TEST_F(SessionTest, InvalidHandlesAndArgumentsFailWithoutHarm) {
  for (int32_t bad : {0, -1, 12345}) {
    EXPECT_EQ(m.tmex.TMValidSession(bad), 0);
    EXPECT_LT(m.tmex.TMSetup(bad), 0);
    EXPECT_LT(m.tmex.TMTouchReset(bad), 0);
    EXPECT_LT(m.tmex.TMTouchByte(bad, 0x55), 0);
    EXPECT_LT(m.tmex.TMAccess(bad, m.state.data()), 0);
    EXPECT_LT(m.tmex.TMStrongAccess(bad, m.state.data()), 0);
    EXPECT_LT(m.tmex.TMOneWireLevel(bad, 0, 1, 0), 0);
    EXPECT_LT(m.tmex.TMEndSession(bad), 0);
    int16_t rom[8] = {0x28};
    EXPECT_LT(m.tmex.TMRom(bad, m.state.data(), rom), 0);
  }
  m.Open();
  int16_t rom[8] = {0x28, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(m.tmex.TMRom(m.h, nullptr, rom), kTmexErrBadArgument);
  EXPECT_EQ(m.tmex.TMAccess(m.h, nullptr), kTmexErrBadArgument);
  EXPECT_EQ(m.tmex.TMTouchByte(m.h, 256), kTmexErrBadArgument);
  EXPECT_EQ(m.tmex.TMTouchByte(m.h, -1), kTmexErrBadArgument);
  EXPECT_EQ(m.tmex.TMOneWireLevel(m.h, 0, 3, 0), kTmexErrBadArgument);
  EXPECT_EQ(m.tmex.TMOneWireLevel(m.h, 0, 1, 7), kTmexErrBadArgument);
}

// An adapter fault has one number whichever adapter is behind the session.
TEST_F(SessionTest, AdapterNotOpenIsTheSameNumberOnEveryAdapter) {
  SimBackend sim(net);
  Ds2480bBackend serial("/nonexistent/ttyUSB9");
  EXPECT_EQ(sim.Reset(), kTmexErrNotOpen);
  EXPECT_EQ(serial.Reset(), kTmexErrNotOpen);
}

TEST_F(SessionTest, RomRoundTripsThroughTheStateBuffer) {
  m.Open();
  int16_t in[8] = {0x28, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  ASSERT_EQ(m.tmex.TMRom(m.h, m.state.data(), in), 1);
  int16_t out[8] = {0};
  ASSERT_EQ(m.tmex.TMRom(m.h, m.state.data(), out), 1);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], in[i]);
}

TEST_F(SessionTest, PrimedPullupStartsAfterTheNextByteAndResetDropsIt) {
  net.AddDs2450(MakeRom(0x20, 1));
  m.Open();
  EXPECT_EQ(m.tmex.TMOneWireLevel(m.h, 0, 1, 2), 1);
  EXPECT_FALSE(net.strongPullup());
  EXPECT_EQ(m.tmex.TMOneWireLevel(m.h, 1, 0, 0), 1);  // read back: armed counts as on
  m.Byte(0xFF);
  EXPECT_TRUE(net.strongPullup());
  EXPECT_EQ(m.tmex.TMOneWireLevel(m.h, 0, 0, 0), 0);
  EXPECT_FALSE(net.strongPullup());
  EXPECT_EQ(m.tmex.TMOneWireLevel(m.h, 0, 1, 0), 1);
  EXPECT_TRUE(net.strongPullup());
  EXPECT_EQ(m.tmex.TMTouchReset(m.h), 1);
  EXPECT_FALSE(net.strongPullup());
}

}  // namespace
}  // namespace wx
