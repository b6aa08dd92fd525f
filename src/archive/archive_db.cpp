// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/archive_db.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace wx {

namespace {

std::string RecordColumns() {
  std::string s;
  for (const FieldInfo& f : kFieldTable) {
    s += ", ";
    s += f.column;
  }
  return s;
}

std::string Schema() {
  std::string s = "CREATE TABLE IF NOT EXISTS archive(time INTEGER PRIMARY KEY, interval INTEGER NOT NULL";
  for (const FieldInfo& f : kFieldTable) {
    s += ", ";
    s += f.column;
    s += " REAL";
  }
  s += ");"
       "CREATE TABLE IF NOT EXISTS day_summary(day INTEGER NOT NULL, quantity TEXT NOT NULL,"
       " min REAL, min_time INTEGER, max REAL, max_time INTEGER, max_dir REAL,"
       " sum REAL NOT NULL DEFAULT 0, count INTEGER NOT NULL DEFAULT 0,"
       " xsum REAL NOT NULL DEFAULT 0, ysum REAL NOT NULL DEFAULT 0,"
       " PRIMARY KEY(day, quantity)) WITHOUT ROWID;";
  return s;
}

// A delta merged into the day's row: the lower low and the higher high
// (the earlier time on a tie, as the recorder keeps it), sums added.
constexpr const char* kUpsertDay =
    "INSERT INTO day_summary(day, quantity, min, min_time, max, max_time, max_dir, sum, count, xsum, ysum)"
    " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"
    " ON CONFLICT(day, quantity) DO UPDATE SET"
    " min_time = CASE WHEN excluded.min IS NOT NULL AND (min IS NULL OR excluded.min < min"
    "   OR (excluded.min = min AND excluded.min_time < min_time)) THEN excluded.min_time ELSE min_time END,"
    " min = CASE WHEN excluded.min IS NOT NULL AND (min IS NULL OR excluded.min < min)"
    "   THEN excluded.min ELSE min END,"
    " max_dir = CASE WHEN excluded.max IS NOT NULL AND (max IS NULL OR excluded.max > max"
    "   OR (excluded.max = max AND excluded.max_time < max_time)) THEN excluded.max_dir ELSE max_dir END,"
    " max_time = CASE WHEN excluded.max IS NOT NULL AND (max IS NULL OR excluded.max > max"
    "   OR (excluded.max = max AND excluded.max_time < max_time)) THEN excluded.max_time ELSE max_time END,"
    " max = CASE WHEN excluded.max IS NOT NULL AND (max IS NULL OR excluded.max > max)"
    "   THEN excluded.max ELSE max END,"
    " sum = sum + excluded.sum, count = count + excluded.count,"
    " xsum = xsum + excluded.xsum, ysum = ysum + excluded.ysum";

void BindOptional(sqlite3_stmt* s, int i, const std::optional<double>& v) {
  if (v)
    sqlite3_bind_double(s, i, *v);
  else
    sqlite3_bind_null(s, i);
}

std::optional<double> ColumnOptional(sqlite3_stmt* s, int i) {
  if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(s, i);
}

// Runs a query row by row; finalizes it whatever happens.
template <typename Row>
bool Query(sqlite3* db, const std::string& sql, const std::vector<int64_t>& args, Row row) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return false;
  for (size_t i = 0; i < args.size(); ++i) sqlite3_bind_int64(s, static_cast<int>(i + 1), args[i]);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) row(s);
  sqlite3_finalize(s);
  return rc == SQLITE_DONE;
}

ArchiveRecord RecordFromRow(sqlite3_stmt* s) {
  ArchiveRecord r;
  r.time = sqlite3_column_int64(s, 0);
  r.interval = sqlite3_column_int(s, 1);
  for (int i = 0; i < kFields; ++i) r.values[static_cast<size_t>(i)] = ColumnOptional(s, i + 2);
  return r;
}

}  // namespace

ArchiveDb::~ArchiveDb() { Close(); }

bool ArchiveDb::Fail(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      fault_ = ArchiveFault::Locked;
      break;
    case SQLITE_FULL:
      fault_ = ArchiveFault::Full;
      break;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      fault_ = ArchiveFault::ReadOnly;
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      fault_ = ArchiveFault::Damaged;
      break;
    default:
      fault_ = ArchiveFault::Other;
  }
  error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  // SQLite calls most failed writes an I/O error; the system's reason tells
  // a full disk or file size limit (EFBIG) and a read-only mount apart.
  const int sys = db_ ? sqlite3_system_errno(db_) : 0;
  if (fault_ == ArchiveFault::Other && sys != 0) {
    if (sys == ENOSPC || sys == EFBIG || sys == EDQUOT) fault_ = ArchiveFault::Full;
    if (sys == EROFS || sys == EACCES || sys == EPERM) fault_ = ArchiveFault::ReadOnly;
    error_ += ": ";
    error_ += std::strerror(sys);
  }
  return false;
}

bool ArchiveDb::Exec(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK || Fail(rc);
}

bool ArchiveDb::Open(const std::filesystem::path& path, bool readOnly) {
  Close();
  error_.clear();
  fault_ = ArchiveFault::None;
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Fail(rc);
    Close();
    return false;
  }
  // Another writer (a rebuild) holds the lock only for one transaction.
  sqlite3_busy_timeout(db_, 2000);
  // NORMAL in WAL mode: a kill loses nothing committed, a power cut at most
  // the last transactions, and the file stays whole either way.
  const bool ok = readOnly ? Exec("SELECT count(*) FROM sqlite_schema")
                           : Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") && Exec(Schema().c_str());
  if (!ok) {
    const std::string why = error_;
    const ArchiveFault fault = fault_;
    Close();
    error_ = why;
    fault_ = fault;
  }
  return ok;
}

void ArchiveDb::Close() {
  sqlite3_finalize(insertRecord_);
  sqlite3_finalize(upsertDay_);
  insertRecord_ = upsertDay_ = nullptr;
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  inTransaction_ = false;
}

sqlite3_stmt* ArchiveDb::Prepare(sqlite3_stmt*& slot, const char* sql) {
  if (!slot && sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &slot, nullptr) != SQLITE_OK) {
    Fail(sqlite3_errcode(db_));
    return nullptr;
  }
  sqlite3_reset(slot);
  sqlite3_clear_bindings(slot);
  return slot;
}

bool ArchiveDb::Begin() {
  if (!Exec("BEGIN IMMEDIATE")) return false;
  inTransaction_ = true;
  return true;
}

bool ArchiveDb::Commit() {
  inTransaction_ = false;
  if (Exec("COMMIT")) return true;
  Rollback();
  return false;
}

void ArchiveDb::Rollback() {
  inTransaction_ = false;
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool ArchiveDb::Clear() { return Exec("DELETE FROM archive; DELETE FROM day_summary;"); }

bool ArchiveDb::Write(const ArchiveBatch& batch) {
  if (!db_) return false;
  const bool own = !inTransaction_;
  if (own && !Begin()) return false;
  const auto failed = [&](int rc) {
    Fail(rc);
    if (own) Rollback();
    return false;
  };
  if (batch.record) {
    static const std::string sql = [] {
      std::string s = "INSERT OR REPLACE INTO archive(time, interval" + RecordColumns() + ") VALUES(?, ?";
      for (int i = 0; i < kFields; ++i) s += ", ?";
      return s + ")";
    }();
    sqlite3_stmt* s = Prepare(insertRecord_, sql.c_str());
    if (!s) return failed(sqlite3_errcode(db_));
    const ArchiveRecord& r = *batch.record;
    sqlite3_bind_int64(s, 1, r.time);
    sqlite3_bind_int(s, 2, r.interval);
    for (int i = 0; i < kFields; ++i) BindOptional(s, i + 3, r.values[static_cast<size_t>(i)]);
    if (const int rc = sqlite3_step(s); rc != SQLITE_DONE) return failed(rc);
  }
  for (const DayDelta& d : batch.days) {
    sqlite3_stmt* s = Prepare(upsertDay_, kUpsertDay);
    if (!s) return failed(sqlite3_errcode(db_));
    const std::string_view name = kQuantityNames[static_cast<size_t>(d.quantity)];
    sqlite3_bind_int(s, 1, d.day);
    sqlite3_bind_text(s, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    BindOptional(s, 3, d.min);
    if (d.min) sqlite3_bind_int64(s, 4, d.minTime);
    BindOptional(s, 5, d.max);
    if (d.max) sqlite3_bind_int64(s, 6, d.maxTime);
    BindOptional(s, 7, d.maxDir);
    sqlite3_bind_double(s, 8, d.sum);
    sqlite3_bind_int64(s, 9, d.count);
    sqlite3_bind_double(s, 10, d.xsum);
    sqlite3_bind_double(s, 11, d.ysum);
    if (const int rc = sqlite3_step(s); rc != SQLITE_DONE) return failed(rc);
  }
  return !own || Commit();
}

std::vector<ArchiveRecord> ArchiveDb::Records(int64_t from, int64_t to) {
  std::vector<ArchiveRecord> out;
  if (!db_) return out;
  const std::string sql =
      "SELECT time, interval" + RecordColumns() + " FROM archive WHERE time > ?1 AND time <= ?2 ORDER BY time";
  if (!Query(db_, sql, {from, to}, [&](sqlite3_stmt* s) { out.push_back(RecordFromRow(s)); }))
    Fail(sqlite3_errcode(db_));
  return out;
}

std::vector<ArchiveRecord> ArchiveDb::Buckets(int64_t from, int64_t to, int64_t seconds) {
  std::vector<ArchiveRecord> out;
  if (!db_ || seconds <= 0) return out;
  std::string sql = "SELECT (time - 1) / ?3 * ?3 + ?3, ?3";
  for (const FieldInfo& f : kFieldTable) {
    const std::string_view c = f.column;
    const char* fn = c == "rain" || c == "lightning" ? "sum" : c == "wind_gust" || c == "rain_rate" ? "max" : "avg";
    sql += ", " + std::string(fn) + "(" + std::string(c) + ")";
  }
  sql += " FROM archive WHERE time > ?1 AND time <= ?2 GROUP BY (time - 1) / ?3 ORDER BY 1";
  if (!Query(db_, sql, {from, to, seconds}, [&](sqlite3_stmt* s) { out.push_back(RecordFromRow(s)); }))
    Fail(sqlite3_errcode(db_));
  return out;
}

std::vector<DayDelta> ArchiveDb::Days(int fromDay, int toDay) {
  std::vector<DayDelta> out;
  if (!db_) return out;
  const std::string sql =
      "SELECT day, quantity, min, min_time, max, max_time, max_dir, sum, count, xsum, ysum"
      " FROM day_summary WHERE day BETWEEN ?1 AND ?2 ORDER BY day, quantity";
  const bool ok = Query(db_, sql, {fromDay, toDay}, [&](sqlite3_stmt* s) {
    const std::string_view name(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                                static_cast<size_t>(sqlite3_column_bytes(s, 1)));
    int q = 0;
    while (q < kQuantities && kQuantityNames[static_cast<size_t>(q)] != name) ++q;
    if (q == kQuantities) return;  // a quantity of a later version
    DayDelta d;
    d.day = sqlite3_column_int(s, 0);
    d.quantity = static_cast<Quantity>(q);
    d.min = ColumnOptional(s, 2);
    d.minTime = sqlite3_column_int64(s, 3);
    d.max = ColumnOptional(s, 4);
    d.maxTime = sqlite3_column_int64(s, 5);
    d.maxDir = ColumnOptional(s, 6);
    d.sum = sqlite3_column_double(s, 7);
    d.count = sqlite3_column_int64(s, 8);
    d.xsum = sqlite3_column_double(s, 9);
    d.ysum = sqlite3_column_double(s, 10);
    out.push_back(d);
  });
  if (!ok) Fail(sqlite3_errcode(db_));
  return out;
}

int64_t ArchiveDb::LastRecordTime() {
  int64_t t = 0;
  if (db_) Query(db_, "SELECT max(time) FROM archive", {}, [&](sqlite3_stmt* s) { t = sqlite3_column_int64(s, 0); });
  return t;
}

}  // namespace wx
