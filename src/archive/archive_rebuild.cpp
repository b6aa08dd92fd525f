// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/archive_rebuild.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>

#include "archive/archive_record.h"
#include "channels/channel_table.h"
#include "datalog/records.h"
#include "onewire/decoding.h"
#include "platform/file_checks.h"

namespace wx {

std::string ReadLogLines(const std::filesystem::path& path, const std::function<void(std::string_view)>& line) {
  // A FIFO or a device would block or never end.
  if (std::string why = NotRegularFileReason(path); !why.empty()) return why;
  // gzread reads a file that is not compressed as it is.
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) return std::strerror(errno ? errno : ENOENT);
  gzbuffer(f, 1 << 17);
  std::vector<char> buffer(1 << 18);
  std::string carry;
  std::string error;
  for (;;) {
    const int n = gzread(f, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (n < 0) {
      int code = 0;
      error = gzerror(f, &code);
      break;
    }
    if (n == 0) {
      // zlib reads a file cut inside its compressed stream up to the cut
      // and says so only here.
      int code = 0;
      gzerror(f, &code);
      if (code == Z_BUF_ERROR) error = "the compressed file is cut short";
      break;
    }
    std::string_view chunk(buffer.data(), static_cast<size_t>(n));
    size_t start = 0;
    for (size_t i = 0; i < chunk.size(); ++i) {
      if (chunk[i] != '\n') continue;
      std::string_view piece = chunk.substr(start, i - start);
      if (!carry.empty()) {
        carry.append(piece);
        piece = carry;
      }
      if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
      line(piece);
      carry.clear();
      start = i + 1;
    }
    // A line longer than any record is cut rather than held whole.
    if (carry.size() < 4096) carry.append(chunk.substr(start, std::min<size_t>(chunk.size() - start, 4096)));
  }
  // A compressed file cut short (a rotation interrupted) gives what it has,
  // but not the torn line at the cut.
  if (!carry.empty() && error.empty()) line(carry);
  gzclose(f);
  return error;
}

std::optional<Reading> ReadingOfLine(std::string_view line, int presentYear) {
  const RecordLine r = ReadRecordLine(line, presentYear);
  if (r.fault != RecordFault::None || r.channel < 0 || !r.time) return std::nullopt;
  Reading reading;
  reading.channel = r.channel;
  reading.when = *r.time;
  reading.stamp = std::string(r.stamp);
  switch (kChannelTable[static_cast<size_t>(r.channel)].kind) {
    case ChannelKind::Temperature:
      if (!r.celsius) return std::nullopt;
      reading.raw = *r.celsius;
      break;
    case ChannelKind::WindDirection:
      // The log holds the column's histogram, announced as its most
      // frequent direction.
      if (!r.bins) return std::nullopt;
      reading.raw = MostFrequentWindIndex(*r.bins);
      reading.average = true;
      break;
    default:
      if (!r.count) return std::nullopt;
      reading.raw = *r.count;
  }
  return reading;
}

std::vector<std::filesystem::path> RotatedLogs(const std::filesystem::path& dataLog) {
  std::vector<std::filesystem::path> out;
  const std::string name = dataLog.filename().string();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dataLog.parent_path(), ec)) {
    const std::string other = entry.path().filename().string();
    if (other == name || (other.size() > name.size() + 1 && other.compare(0, name.size(), name) == 0 &&
                          (other[name.size()] == '.' || other[name.size()] == '-')))
      out.push_back(entry.path());
  }
  return out;
}

std::vector<std::filesystem::path> OldestFirst(const std::vector<std::filesystem::path>& logs, int presentYear,
                                               std::vector<std::string>& skipped) {
  std::vector<std::pair<DateTime, std::filesystem::path>> found;
  for (const auto& path : logs) {
    std::optional<DateTime> first;
    // Only the first record is wanted: later lines are passed over cheaply.
    const std::string why = ReadLogLines(path, [&](std::string_view line) {
      if (!first)
        if (const auto r = ReadingOfLine(line, presentYear)) first = r->when;
    });
    if (!why.empty())
      skipped.push_back(path.string() + ": " + why);
    else if (!first)
      skipped.push_back(path.string() + ": no records");
    else
      found.emplace_back(*first, path);
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::filesystem::path> out;
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

RebuildReport RebuildArchive(ArchiveDb& db, const std::vector<std::filesystem::path>& logs, int intervalSeconds,
                             RebuildEngine engine, int presentYear,
                             const std::function<void(const std::string&)>& say) {
  RebuildReport report;
  std::string failure;
  const auto check = [&](bool ok) {
    if (!ok && failure.empty()) failure = db.Error();
    return ok;
  };
  if (!check(db.Begin()) || !check(db.Clear())) {
    db.Rollback();
    report.error = failure;
    return report;
  }
  ArchiveRecorder recorder(
      intervalSeconds,
      [&](ArchiveBatch&& b) {
        if (failure.empty() && check(db.Write(b)) && b.record) ++report.records;
      },
      engine.outdoor);
  for (const auto& path : logs) {
    int64_t lines = 0, readings = 0;
    const std::string why = ReadLogLines(path, [&](std::string_view line) {
      ++lines;
      const auto reading = ReadingOfLine(line, presentYear);
      if (!reading && engine.windOffset && line.substr(0, 2) == "wo") {
        // "- - Wind Dir Offset:9. ..." names the vane offset of the records after it.
        const size_t at = line.find("Offset:");
        int v = -1;
        if (at != std::string_view::npos) std::from_chars(line.data() + at + 7, line.data() + line.size(), v);
        if (v >= 0 && v <= 15) engine.windOffset(v);
      }
      if (!reading || !failure.empty()) return;
      ++readings;
      engine.feed(*reading);
      recorder.Observe(engine.snapshot(reading->when));
      const int64_t t = ArchiveSeconds(reading->when);
      if (!report.firstTime) report.firstTime = t;
      report.lastTime = t;
    });
    ++report.files;
    report.lines += lines;
    report.readings += readings;
    say(path.string() + ": " + std::to_string(lines) + " lines, " + std::to_string(readings) + " readings" +
        (why.empty() ? "" : "; reading stopped: " + why));
  }
  recorder.Finish();
  if (failure.empty()) check(db.Commit());
  if (!failure.empty()) {
    db.Rollback();
    report.error = failure;
  }
  return report;
}

}  // namespace wx
