// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/sim/value_program.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace wx {

namespace {
// A stateless hash of (seed, index) to [-1, 1], so a walk does not depend on
// how often it was looked at.
double Jitter(uint32_t seed, int64_t index) {
  uint64_t z = (static_cast<uint64_t>(seed) << 32) ^ static_cast<uint64_t>(index);
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) / static_cast<double>(1ull << 53) * 2.0 - 1.0;
}
}  // namespace

ValueProgram ValueProgram::Constant(double v) {
  ValueProgram p;
  p.a_ = v;
  return p;
}

ValueProgram ValueProgram::Ramp(double start, double perHour, double amplitude, double periodSeconds) {
  ValueProgram p;
  p.kind_ = Kind::kRamp;
  p.a_ = start;
  p.b_ = perHour;
  p.c_ = periodSeconds > 0 ? amplitude : 0;
  p.d_ = periodSeconds > 0 ? periodSeconds : 1;
  return p;
}

ValueProgram ValueProgram::Sine(double mean, double amplitude, double periodSeconds) {
  ValueProgram p;
  p.kind_ = Kind::kSine;
  p.a_ = mean;
  p.b_ = amplitude;
  p.c_ = periodSeconds > 0 ? periodSeconds : 1;
  return p;
}

ValueProgram ValueProgram::Steps(std::vector<std::pair<double, double>> steps) {
  ValueProgram p;
  p.kind_ = Kind::kSteps;
  std::stable_sort(steps.begin(), steps.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  p.steps_ = std::move(steps);
  return p;
}

ValueProgram ValueProgram::Walk(double start, double step, uint32_t seed, double intervalSeconds) {
  ValueProgram p;
  p.kind_ = Kind::kWalk;
  p.a_ = start;
  p.b_ = step;
  p.c_ = intervalSeconds > 0 ? intervalSeconds : 60;
  p.seed_ = seed;
  p.walkValue_ = start;
  return p;
}

double ValueProgram::At(double t) const {
  switch (kind_) {
    case Kind::kConstant:
      return a_;
    case Kind::kRamp:
      return a_ + b_ * t / 3600.0 + c_ * std::sin(2 * std::numbers::pi * t / d_);
    case Kind::kSine:
      return a_ + b_ * std::sin(2 * std::numbers::pi * t / c_);
    case Kind::kSteps: {
      if (steps_.empty()) return 0;
      double v = steps_.front().second;
      for (const auto& [at, value] : steps_) {
        if (at > t) break;
        v = value;
      }
      return v;
    }
    case Kind::kWalk: {
      const int64_t n = t <= 0 ? 0 : static_cast<int64_t>(std::floor(t / c_));
      if (n < walkIndex_) {
        walkIndex_ = 0;
        walkValue_ = a_;
      }
      for (; walkIndex_ < n; ++walkIndex_) walkValue_ += b_ * Jitter(seed_, walkIndex_);
      return walkValue_;
    }
  }
  return 0;
}

}  // namespace wx
