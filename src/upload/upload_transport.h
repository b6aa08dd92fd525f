// SPDX-License-Identifier: GPL-2.0-or-later
// One upload over the network: an HTTP GET through libcurl, or an APRS-IS
// session (connect, read the banner, log in, wait for the server's answer,
// send the report, close). Blocking, with timeouts; run on a worker thread.
// Either ends early once `stop` is set.
#pragma once
#include <atomic>
#include <functional>
#include <string>

#include "upload/upload_settings.h"

namespace wx {

struct UploadRequest {
  UploadTarget target;
  std::string url;     // HTTP networks
  std::string login;   // CWOP: the login line
  std::string packet;  // CWOP: the weather report
  int timeoutSeconds = 15;
};

struct UploadOutcome {
  bool ok = false;
  std::string reason;  // why not, one line without the secret
};

using UploadTransport = std::function<UploadOutcome(const UploadRequest&, const std::atomic<bool>& stop)>;

UploadOutcome SendOverNetwork(const UploadRequest& request, const std::atomic<bool>& stop);

}  // namespace wx
