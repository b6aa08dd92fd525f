// SPDX-License-Identifier: GPL-2.0-or-later
#include "upload/upload_transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/modules.h"
#include "upload/curl_calls.h"
#include "upload/upload_formats.h"

// Defined where the table is linked into the program (the tests); the program
// itself loads the module.
extern "C" __attribute__((weak)) const wx::CurlCalls wx118_curl_calls;

namespace wx {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMaxReplyBytes = 64 * 1024;  // a reply is a word or two; more is kept out of memory
constexpr int kSliceMs = 200;                 // how soon a stop is noticed

size_t CollectReply(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  const size_t n = size * count;
  body->append(data, std::min(n, kMaxReplyBytes - std::min(kMaxReplyBytes, body->size())));
  return n;
}

int StopRequested(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

UploadOutcome HttpGet(const UploadRequest& r, const std::atomic<bool>& stop) {
  UploadOutcome out;
  const CurlCalls* lib = LoadCurl(out.reason);
  if (!lib) return out;
  CURL* curl = lib->easy_init();
  if (!curl) {
    out.reason = "libcurl could not start a transfer";
    return out;
  }
  std::string body;
  char error[CURL_ERROR_SIZE] = "";
  lib->easy_setopt(curl, CURLOPT_URL, r.url.c_str());
  lib->easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  lib->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // timeouts without SIGALRM: other threads run
  lib->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(std::min(r.timeoutSeconds, 10)));
  lib->easy_setopt(curl, CURLOPT_TIMEOUT, long(r.timeoutSeconds));
  lib->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  lib->easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
  lib->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  lib->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  lib->easy_setopt(curl, CURLOPT_USERAGENT, "WX118");
  lib->easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectReply);
  lib->easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  lib->easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  lib->easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  lib->easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, StopRequested);
  lib->easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&stop));
  const CURLcode rc = lib->easy_perform(curl);
  long status = 0;
  lib->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  lib->easy_cleanup(curl);
  if (rc != CURLE_OK) {
    // The error buffer names the host, never the query that holds the secret.
    out.reason = CleanServerText(error[0] ? error : lib->easy_strerror(rc), r.target);
    return out;
  }
  const ReplyVerdict verdict = JudgeHttpReply(r.target, status, body);
  out.ok = verdict.ok;
  out.reason = verdict.detail;
  return out;
}

// A TCP connection to the APRS-IS server with a deadline on every step.
class AprsSession {
 public:
  AprsSession(const UploadRequest& r, const std::atomic<bool>& stop)
      : r_(r), stop_(stop), deadline_(Clock::now() + std::chrono::seconds(r.timeoutSeconds)) {}
  ~AprsSession() {
    if (fd_ >= 0) ::close(fd_);
  }

  UploadOutcome Run() {
    UploadOutcome out;
    const std::string where = r_.target.host + ":" + std::to_string(r_.target.port);
    if (!Connect(out.reason)) {
      out.reason = "no connection to " + where + " (" + out.reason + ")";
      return out;
    }
    if (!Send(r_.login, out.reason)) return out;
    // Lines before the answer to the login (the banner, comments) are passed over.
    for (;;) {
      std::string line;
      if (!ReadLine(line, out.reason)) {
        out.reason = "no answer to the login of " + r_.target.stationId + " from " + where + " (" + out.reason + ")";
        return out;
      }
      const LoginAnswer answer = JudgeAprsLine(line);
      if (answer == LoginAnswer::Accepted) break;
      if (answer == LoginAnswer::Refused) {
        out.reason =
            where + " refused the login of " + r_.target.stationId + " (\"" + CleanServerText(line, r_.target) + "\")";
        return out;
      }
    }
    if (!Send(r_.packet, out.reason)) return out;
    ::shutdown(fd_, SHUT_WR);
    out.ok = true;
    return out;
  }

 private:
  // Milliseconds to wait now: a slice, so that a stop is seen, up to the deadline.
  int WaitMs(std::string& reason) {
    if (stop_) {
      reason = "the program is ending";
      return -1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    if (left <= 0) {
      reason = "no answer within " + std::to_string(r_.timeoutSeconds) + " s";
      return -1;
    }
    return int(std::min<long long>(left, kSliceMs));
  }

  bool Connect(std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int gai = ::getaddrinfo(r_.target.host.c_str(), std::to_string(r_.target.port).c_str(), &hints, &found);
    if (gai != 0) {
      reason = std::string("the name cannot be looked up: ") + gai_strerror(gai);
      return false;
    }
    reason = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
      fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
      if (fd_ < 0) continue;
      if (::connect(fd_, a->ai_addr, a->ai_addrlen) == 0 || (errno == EINPROGRESS && AwaitConnect(reason))) {
        ::freeaddrinfo(found);
        return true;
      }
      if (errno != EINPROGRESS) reason = std::strerror(errno);
      ::close(fd_);
      fd_ = -1;
    }
    ::freeaddrinfo(found);
    return false;
  }

  bool AwaitConnect(std::string& reason) {
    for (;;) {
      const int ms = WaitMs(reason);
      if (ms < 0) return false;
      pollfd p{fd_, POLLOUT, 0};
      const int n = ::poll(&p, 1, ms);
      if (n < 0 && errno != EINTR) {
        reason = std::strerror(errno);
        return false;
      }
      if (n <= 0) continue;
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err == 0) return true;
      reason = std::strerror(err);
      errno = 0;
      return false;
    }
  }

  bool Send(const std::string& text, std::string& reason) {
    size_t done = 0;
    while (done < text.size()) {
      const int ms = WaitMs(reason);
      if (ms < 0) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, ms) <= 0) continue;
      const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        reason = std::string("sending failed: ") + std::strerror(errno);
        return false;
      }
      if (n > 0) done += size_t(n);
    }
    return true;
  }

  bool ReadLine(std::string& line, std::string& reason) {
    constexpr size_t kMaxLine = 512;  // APRS-IS lines are shorter; a longer one is cut
    for (;;) {
      const size_t nl = buffer_.find('\n');
      if (nl != std::string::npos || buffer_.size() >= kMaxLine) {
        line = buffer_.substr(0, std::min(nl, kMaxLine));
        buffer_.erase(0, nl == std::string::npos ? kMaxLine : nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      const int ms = WaitMs(reason);
      if (ms < 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, ms) <= 0) continue;
      char chunk[512];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n == 0) {
        reason = "the server closed the connection";
        return false;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        reason = std::strerror(errno);
        return false;
      }
      if (n > 0) buffer_.append(chunk, size_t(n));
    }
  }

  const UploadRequest& r_;
  const std::atomic<bool>& stop_;
  Clock::time_point deadline_;
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace

const CurlCalls* LoadCurl(std::string& why) {
  const CurlCalls* calls = LinkedOrLoaded(&wx118_curl_calls, "wx118-upload.so", "wx118_curl_calls", why);
  static std::once_flag once;
  if (calls) std::call_once(once, [calls] { calls->global_init(CURL_GLOBAL_DEFAULT); });
  return calls;
}

UploadOutcome SendOverNetwork(const UploadRequest& request, const std::atomic<bool>& stop) {
  if (request.target.network == Network::Cwop) return AprsSession(request, stop).Run();
  return HttpGet(request, stop);
}

}  // namespace wx
