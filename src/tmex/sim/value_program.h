// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated physical quantity as a function of time since the simulation
// started: constant, ramp, sine, step list or seeded random walk.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

namespace wx {

class ValueProgram {
 public:
  ValueProgram() = default;  // constant 0
  static ValueProgram Constant(double v);
  // start + perHour * hours, plus amplitude * sin(2 pi t / period) when a
  // period is given: a counter whose rate swings (wind that drops at night).
  static ValueProgram Ramp(double start, double perHour, double amplitude = 0, double periodSeconds = 0);
  static ValueProgram Sine(double mean, double amplitude, double periodSeconds);
  // (time offset in seconds, value) pairs; the value of the latest offset
  // not after t holds; before the first one its value holds.
  static ValueProgram Steps(std::vector<std::pair<double, double>> steps);
  // Starts at start and moves by a uniform random amount in [-step, step]
  // every intervalSeconds; the same seed gives the same path.
  static ValueProgram Walk(double start, double step, uint32_t seed, double intervalSeconds = 60);

  double At(double seconds) const;

 private:
  enum class Kind { kConstant, kRamp, kSine, kSteps, kWalk };
  Kind kind_ = Kind::kConstant;
  double a_ = 0, b_ = 0, c_ = 0, d_ = 0;
  uint32_t seed_ = 0;
  std::vector<std::pair<double, double>> steps_;
  // Random walk cache: value after walkIndex_ steps (time only moves on, but
  // an earlier time is recomputed from the start).
  mutable int64_t walkIndex_ = 0;
  mutable double walkValue_ = 0;
};

}  // namespace wx
