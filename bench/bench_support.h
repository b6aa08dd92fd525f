// A Ui and an error sink that do nothing, for timing the core without a screen.
#pragma once
#include <string>

#include "platform/error_sink.h"
#include "platform/ui.h"

namespace wx::bench {

class NullUi : public Ui {
 public:
  void ShowMessage(const std::string&) override {}
  void ShowMessageAt(const std::string&, int, int) override {}
  std::string InputBox(const std::string&, const std::string&, const std::string& d) override { return d; }
  DialogAnswer AskYesNoCancel(const std::string&, int, int) override { return DialogAnswer::Cancel; }
  void ProcessMessages() override {}
  void Terminate() override {}
  bool TerminateRequested() const override { return false; }
  void Refresh() override {}
};

class NullSink : public ErrorSink {
 public:
  void ShowError(const std::string&) override {}
};

}  // namespace wx::bench
