// SPDX-License-Identifier: GPL-2.0-or-later
// The one routine through which run-time errors and warnings are shown and
// logged (implemented by the monitor: numbered, stamped, error window, error log).
#pragma once
#include <string>

namespace wx {

class ErrorSink {
 public:
  virtual ~ErrorSink() = default;
  virtual void ShowError(const std::string& message) = 0;
};

}  // namespace wx
