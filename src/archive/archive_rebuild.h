// SPDX-License-Identifier: GPL-2.0-or-later
// The archive rebuilt from data logs: plain, rotated and gzip-compressed ones
// (zlib), oldest first. Each record becomes the reading the monitor
// announced when it logged it, and goes through the same weather engine and
// recorder as the live archive, so both give the same archive.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_db.h"
#include "channels/reading_observer.h"

namespace wx {

// Calls line for every line of the file, compressed or not, without its line
// end. "" when the whole file was read, else why not.
std::string ReadLogLines(const std::filesystem::path& path, const std::function<void(std::string_view)>& line);

// The reading a whole data log record stands for; nullopt for comments,
// headers and lines that are not whole records.
std::optional<Reading> ReadingOfLine(std::string_view line, int presentYear);

// The data log and its rotated copies beside it (name.1, name.2.gz,
// name-20261201.gz ...).
std::vector<std::filesystem::path> RotatedLogs(const std::filesystem::path& dataLog);

// The files ordered by the time of their first record, oldest first; a file
// without one is left out and named in `skipped`.
std::vector<std::filesystem::path> OldestFirst(const std::vector<std::filesystem::path>& logs, int presentYear,
                                               std::vector<std::string>& skipped);

struct RebuildEngine {
  std::function<void(const Reading&)> feed;
  std::function<WeatherValues(DateTime)> snapshot;
  // A "wo" record's vane offset, for the records after it (may be empty).
  std::function<void(int)> windOffset;
  int outdoor = 0;  // the [Station] Outdoor channel
};

struct RebuildReport {
  int64_t files = 0, lines = 0, readings = 0, records = 0;
  int64_t firstTime = 0, lastTime = 0;  // archive seconds of the first and last reading
  std::string error;                    // empty on success
};

// Replaces the archive's contents with what the logs give, in one
// transaction: a failure or a kill leaves the old archive as it was.
RebuildReport RebuildArchive(ArchiveDb& db, const std::vector<std::filesystem::path>& logs, int intervalSeconds,
                             RebuildEngine engine, int presentYear, const std::function<void(const std::string&)>& say);

}  // namespace wx
