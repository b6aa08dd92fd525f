// SPDX-License-Identifier: GPL-2.0-or-later
// What the weather networks answer. Input: one byte choosing the network,
// two bytes of HTTP status, then the reply's body, which is also read as
// APRS-IS lines. Whatever a server sends, the verdict's text is one short
// printable line that never holds the secret, and a refusal always says why.
#include "fuzz/fuzz_support.h"
#include "upload/upload_formats.h"

namespace wx::fuzz {

std::string FuzzUploadReply(const uint8_t* data, size_t size) {
  Findings f;
  if (size < 3) return {};
  UploadTarget t;
  t.network = static_cast<Network>(data[0] % 6);
  t.stationId = "CW0001";
  t.password = "pw";  // short, so that bodies hold it often
  const long status = long(data[1]) << 8 | data[2];
  const std::string_view body = AsText(data + 3, size - 3);

  const ReplyVerdict v = JudgeHttpReply(t, status, body);
  f.Check(v.ok == v.detail.empty(), "a refusal says why, a success says nothing");
  if (v.ok) f.Check(status >= 200 && status < 300, "only a 2xx status is a success");
  const std::string clean = CleanServerText(body, t);
  f.Check(clean.size() <= 163, "server text is cut short");
  for (const std::string* s : {&v.detail, &clean}) {
    f.Check(s->find(t.password) == std::string::npos, "the secret is masked");
    f.Check(s->find_first_of("\r\n\t") == std::string::npos, "server text is one line");
  }

  size_t start = 0;
  while (start <= body.size()) {
    const size_t nl = std::min(body.find('\n', start), body.size());
    const std::string_view line = body.substr(start, nl - start);
    const LoginAnswer a = JudgeAprsLine(line);
    if (a != LoginAnswer::NotYet) f.Check(line.substr(0, 10) == "# logresp ", "only a logresp answers the login");
    start = nl + 1;
  }
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzUploadReply)
