// SPDX-License-Identifier: GPL-2.0-or-later
// Shared pieces of the fuzz targets. Each target is a plain function that
// takes one input and returns the first broken invariant (empty when all
// held), so the same code runs under libFuzzer and in the regression test.
#pragma once
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/fakes.h"

namespace wx::fuzz {

using Target = std::string (*)(const uint8_t* data, size_t size);

// Collects the first invariant that did not hold.
class Findings {
 public:
  void Check(bool ok, const std::string& what) {
    if (!ok && first_.empty()) first_ = what;
  }
  bool Failed() const { return !first_.empty(); }
  const std::string& First() const { return first_; }

 private:
  std::string first_;
};

using test::ReadFile;
using test::RecordingErrors;
using test::ScriptedUi;
using test::TempDir;

// Takes values off the front of an input; an exhausted input gives zeros.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t remaining() const { return size_ - pos_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool Bool() { return Byte() & 1; }
  // lo..hi inclusive (hi - lo below 256).
  int InRange(int lo, int hi) { return lo + Byte() % (hi - lo + 1); }
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, remaining());
    std::vector<uint8_t> v(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// One folder per process, in memory: the targets overwrite their files for
// every input.
inline const TempDir& Scratch() {
  static const TempDir dir(TempDir::InMemory);
  return dir;
}

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The targets, by the name of their corpus folder.
std::string FuzzPrimaryConfig(const uint8_t* data, size_t size);
std::string FuzzSecondaryConfig(const uint8_t* data, size_t size);
std::string FuzzReplay(const uint8_t* data, size_t size);
std::string FuzzColourRect(const uint8_t* data, size_t size);
std::string FuzzDs2480b(const uint8_t* data, size_t size);
std::string FuzzStation(const uint8_t* data, size_t size);
std::string FuzzPrimaryStartUp(const uint8_t* data, size_t size);
std::string FuzzExport(const uint8_t* data, size_t size);
std::string FuzzUploadReply(const uint8_t* data, size_t size);

}  // namespace wx::fuzz

// The libFuzzer entry of a target; only the fuzz build defines
// WX118_FUZZ_ENTRY, so the regression test can link every target at once.
#ifdef WX118_FUZZ_ENTRY
#define WX118_FUZZ_TARGET(fn)                                                   \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {     \
    const std::string broken = fn(data, size);                                  \
    if (!broken.empty()) {                                                      \
      std::fprintf(stderr, "\n*** invariant broken: %s\n", broken.c_str());     \
      std::abort();                                                             \
    }                                                                           \
    return 0;                                                                   \
  }
#else
#define WX118_FUZZ_TARGET(fn)
#endif
