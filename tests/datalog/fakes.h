// Scripted Ui and recording ErrorSink for the data log tests.
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/error_sink.h"
#include "platform/ui.h"

namespace wx::test {

class ScriptedUi : public Ui {
 public:
  std::deque<std::string> inputs;  // answers of InputBox in order; empty = cancelled
  std::vector<std::string> messages, inputCaptions, inputPrompts;
  std::function<void()> duringInput;
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  void ShowMessageAt(const std::string& t, int, int) override { messages.push_back(t); }
  std::string InputBox(const std::string& c, const std::string& p, const std::string& d) override {
    inputCaptions.push_back(c);
    inputPrompts.push_back(p);
    if (duringInput) duringInput();
    if (inputs.empty()) return d;
    std::string a = inputs.front();
    inputs.pop_front();
    return a;
  }
  DialogAnswer AskYesNoCancel(const std::string&, int, int) override { return DialogAnswer::Cancel; }
  void ProcessMessages() override {}
  void Terminate() override { terminated = true; }
  bool TerminateRequested() const override { return terminated; }
  void Refresh() override {}
  bool terminated = false;
};

class RecordingSink : public ErrorSink {
 public:
  std::vector<std::string> errors;
  void ShowError(const std::string& m) override { errors.push_back(m); }
};

}  // namespace wx::test
