// SPDX-License-Identifier: GPL-2.0-or-later
// The data log export. Input: one mode byte (bit 0 JSON Lines, bits 1-7 the
// size of the pieces the log is fed in), then the data log text. The output
// must not depend on where the input was split, it and every problem must be
// UTF-8 whatever bytes the log holds, every JSON line must parse, every CSV
// row must have the header's column count, and every skipped line must be
// named by a line number that exists. Whole readings, written straight from
// their text, must come out as the general record reader gives them.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>

#include "datalog/records.h"
#include "export/log_export.h"
#include "fuzz/fuzz_support.h"

namespace wx::fuzz {
namespace {

struct Run {
  std::string out;
  std::vector<std::string> problems;
  int64_t lines = 0;
};

Run Export(std::string_view text, bool jsonl, size_t piece, bool quick = true) {
  ExportOptions options;
  options.quickReadings = quick;
  options.format = jsonl ? ExportOptions::Format::Jsonl : ExportOptions::Format::Csv;
  options.units.present = true;
  options.units.mapped[5] = true;
  options.units.factor[5] = 0.2794;
  options.units.unit[5] = "m\"m,";  // a unit text that needs quoting in both formats
  Run run;
  LogExporter exporter(
      options, [&](std::string_view s) { run.out.append(s); },
      [&](std::string_view p) { run.problems.emplace_back(p); });
  for (size_t at = 0; at < text.size(); at += piece) exporter.Feed(text.substr(at, piece));
  exporter.Finish();
  run.lines = exporter.linesRead();
  return run;
}

bool IsUtf8(std::string_view s) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString decoded = decoder(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
  return !decoder.hasError() && decoded.toUtf8() == QByteArrayView(s.data(), static_cast<qsizetype>(s.size()));
}

// Fields of one CSV record starting at `at`; advances past its line end.
int CsvFields(std::string_view s, size_t& at) {
  int fields = 1;
  bool quoted = false;
  for (; at < s.size(); ++at) {
    const char c = s[at];
    if (quoted) {
      if (c == '"') {
        if (at + 1 < s.size() && s[at + 1] == '"')
          ++at;  // a doubled quote inside the field
        else
          quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      ++fields;
    } else if (c == '\n') {
      ++at;
      return fields;
    }
  }
  return -1;  // no line end
}

}  // namespace

std::string FuzzExport(const uint8_t* data, size_t size) {
  Findings f;
  if (size < 1) return {};
  const bool jsonl = data[0] & 1;
  const size_t piece = 1 + (data[0] >> 1);
  const std::string_view text = AsText(data + 1, size - 1);
  const Run whole = Export(text, jsonl, text.size() + 1);
  const Run split = Export(text, jsonl, piece);
  f.Check(whole.out == split.out, "the output does not depend on how the input is split");
  f.Check(whole.problems == split.problems, "the problems do not depend on how the input is split");
  const Run general = Export(text, jsonl, piece, false);
  f.Check(whole.out == general.out, "quick readings are written as the general reader writes them");
  f.Check(whole.problems == general.problems, "quick readings report what the general reader reports");
  // Every line the record reader finds faulty is reported, and no other
  // (overlong lines aside, which are never read as records).
  int64_t faulty = 0;
  bool overlong = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    overlong = overlong || line.size() > LogExporter::kMaxLine;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && ReadRecordLine(line).fault != RecordFault::None) ++faulty;
  }
  if (!overlong)
    f.Check(static_cast<int64_t>(whole.problems.size()) == faulty, "exactly the faulty lines are reported");
  for (const std::string& p : whole.problems) {
    const long n = std::atol(p.c_str() + 5);
    f.Check(p.rfind("line ", 0) == 0 && n >= 1 && n <= whole.lines, "a problem names a line of the input");
    f.Check(IsUtf8(p), "every problem is UTF-8");
  }
  const std::string_view out = whole.out;
  f.Check(IsUtf8(out), "the output is UTF-8");
  size_t at = 0;
  if (jsonl) {
    while (at < out.size()) {
      const size_t end = out.find('\n', at);
      f.Check(end != std::string_view::npos, "every JSON line ends");
      if (end == std::string_view::npos) break;
      QJsonParseError error{};
      const auto doc = QJsonDocument::fromJson(QByteArray(out.data() + at, static_cast<qsizetype>(end - at)), &error);
      f.Check(error.error == QJsonParseError::NoError && doc.isObject(), "every line is one JSON object");
      at = end + 1;
    }
  } else {
    f.Check(CsvFields(out, at) == 24, "the header has 24 columns");
    while (at < out.size()) f.Check(CsvFields(out, at) == 24, "every row has the header's 24 columns");
  }
  return f.First();
}

}  // namespace wx::fuzz

WX118_FUZZ_TARGET(wx::fuzz::FuzzExport)
