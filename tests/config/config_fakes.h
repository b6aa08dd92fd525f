// A scripted Ui and a recording error sink for the configuration tests.
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/error_sink.h"
#include "platform/ui.h"

namespace wx::testing_support {

class RecordingUi : public Ui {
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

class RecordingSink : public ErrorSink {
 public:
  std::vector<std::string> errors;
  void ShowError(const std::string& message) override { errors.push_back(message); }
};

// A fresh folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("wx118cfg-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path Write(const std::string& name, const std::string& content) const {
    const auto p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace wx::testing_support
