// SPDX-License-Identifier: GPL-2.0-or-later
// The archive's SQLite database: the schema, the writes (one transaction per
// batch, day rows merged), and the queries the pages and summaries read.
// WAL mode: readers (a web server's scripts, sqlite3, the summary command)
// never block the writer, and a killed writer leaves a database that opens
// with every committed batch.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_record.h"

struct sqlite3;
struct sqlite3_stmt;

namespace wx {

// What went wrong, as far as the owner can act on it.
enum class ArchiveFault : uint8_t { None, Locked, Full, ReadOnly, Damaged, Other };

class ArchiveDb {
 public:
  ArchiveDb() = default;
  ~ArchiveDb();
  ArchiveDb(const ArchiveDb&) = delete;
  ArchiveDb& operator=(const ArchiveDb&) = delete;

  // Opens (and creates, unless readOnly) the database and its tables.
  // false on failure: Error() and Fault() say why.
  bool Open(const std::filesystem::path& path, bool readOnly = false);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }

  // One batch in its own transaction, unless inside Begin()..Commit().
  bool Write(const ArchiveBatch& batch);
  bool Begin();
  bool Commit();
  void Rollback();
  // Empties both tables (the rebuild, inside its transaction).
  bool Clear();

  const std::string& Error() const { return error_; }
  ArchiveFault Fault() const { return fault_; }

  // Records with from < time <= to, oldest first.
  std::vector<ArchiveRecord> Records(int64_t from, int64_t to);
  // The same range in buckets of `seconds`: the mean of each value, the
  // highest gust, the sums of rain and strikes; each bucket's time is its end.
  std::vector<ArchiveRecord> Buckets(int64_t from, int64_t to, int64_t seconds);
  // Day rows with fromDay <= day <= toDay (yyyymmdd), by day then quantity.
  std::vector<DayDelta> Days(int fromDay, int toDay);
  // The time of the newest record, 0 when there is none.
  int64_t LastRecordTime();

 private:
  bool Exec(const char* sql);
  bool Fail(int rc);
  sqlite3_stmt* Prepare(sqlite3_stmt*& slot, const char* sql);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insertRecord_ = nullptr;
  sqlite3_stmt* upsertDay_ = nullptr;
  bool inTransaction_ = false;
  std::string error_;
  ArchiveFault fault_ = ArchiveFault::None;
};

// The archive's file beside the data log.
inline constexpr const char* kArchiveFileName = "wx118-archive.sqlite";

}  // namespace wx
