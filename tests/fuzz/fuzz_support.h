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

#include "platform/error_sink.h"
#include "platform/ui.h"

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

// A Ui that only records what it was asked to show.
class QuietUi : public Ui {
 public:
  std::vector<std::string> messages;
  int terminateCalls = 0;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowMessageAt(const std::string& text, int, int) override { messages.push_back(text); }
  std::string InputBox(const std::string&, const std::string&, const std::string& d) override { return d; }
  DialogAnswer AskYesNoCancel(const std::string&, int, int) override { return DialogAnswer::Cancel; }
  void ProcessMessages() override {}
  void Terminate() override { ++terminateCalls; }
  bool TerminateRequested() const override { return terminateCalls > 0; }
  void Refresh() override {}
};

class QuietSink : public ErrorSink {
 public:
  std::vector<std::string> errors;
  void ShowError(const std::string& message) override { errors.push_back(message); }
};

// A private folder, removed when it goes. The targets share one per process
// (see Scratch) and overwrite their files for every input.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (std::filesystem::is_directory("/dev/shm", ec)) base = "/dev/shm";  // no disk writes per input
    std::string tmpl = (base / "wx118fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path Write(const std::filesystem::path& relative, std::string_view content) const {
    const std::filesystem::path p = path_ / relative;
    std::error_code ec;
    std::filesystem::create_directories(p.parent_path(), ec);
    std::ofstream(p, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

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

inline const ScratchDir& Scratch() {
  static const ScratchDir dir;
  return dir;
}

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

inline std::string ReadWhole(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
