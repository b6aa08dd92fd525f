// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/archive_writer.h"

#include <pthread.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "config/secondary_config.h"
#include "web/web_publisher.h"

namespace wx {

ArchiveSettings ReadArchiveSettings(const ProfileFile& ini, std::vector<std::string>& problems) {
  ArchiveSettings s;
  // As the other sections' flags: 1, on, yes, true or 0, off, no, false.
  if (ini.HasKey("Archive", "Enabled")) {
    std::string v = ini.ReadString("Archive", "Enabled", "");
    for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (v == "0" || v == "off" || v == "no" || v == "false")
      s.enabled = false;
    else if (!(v == "1" || v == "on" || v == "yes" || v == "true"))
      problems.push_back("In WX118ini2.txt, [Archive] Enabled=" + v + " is not 1 or 0; 1 is used.");
  }
  if (ini.HasKey("Archive", "Interval")) {
    const int interval = ini.ReadInteger("Archive", "Interval", 0);
    if (interval < 1 || interval > 60)
      problems.push_back("In WX118ini2.txt, [Archive] Interval=" + ini.ReadString("Archive", "Interval", "") +
                         " is not 1 to 60 minutes; 5 is used.");
    else
      s.intervalMinutes = interval;
  }
  return s;
}

std::string WriteHistoryFiles(ArchiveDb& db, const std::string& folder, int64_t now, const StationSettings& station,
                              std::set<std::string>& swept) {
  const time_t t = static_cast<time_t>(now);
  std::tm tm{};
  gmtime_r(&t, &tm);
  const int year = tm.tm_year + 1900, month = tm.tm_mon + 1;
  const std::string name = station.name.empty() ? "WX118 weather station" : station.name;
  std::string failed;
  const auto put = [&](const std::string& file, const std::string& bytes) {
    const std::string why = ReplaceServedFile(folder + file, bytes, swept);
    if (!why.empty() && failed.empty()) failed = folder + file + ": " + why;
  };
  for (int p = 0; p < 4; ++p) {
    const auto period = static_cast<HistoryPeriod>(p);
    put(HistoryFileName(period), HistoryPage(db, period, now, name));
  }
  char file[48];
  std::snprintf(file, sizeof file, "NOAA-%04d-%02d.txt", year, month);
  put(file, MonthSummary(db, year, month, station));
  std::snprintf(file, sizeof file, "NOAA-%04d.txt", year);
  put(file, YearSummary(db, year, station));
  return failed;
}

namespace {

// A database that cannot be written for long (locked, full) must not grow
// the queue without bound: past a month of records the oldest go first.
void TrimToBound(std::deque<ArchiveBatch>& q) {
  constexpr size_t kBound = 10000;
  while (q.size() > kBound) q.pop_front();
}

}  // namespace

ArchiveWriter::ArchiveWriter(Options options) : options_(std::move(options)) {}

ArchiveWriter::~ArchiveWriter() { Stop(); }

void ArchiveWriter::Start() {
  if (db_.Open(options_.database)) {
    const int64_t last = db_.LastRecordTime();
    if (last > 0) {
      totals_.day = ArchiveDay(last - 1);
      for (const DayDelta& d : db_.Days(totals_.day, totals_.day)) {
        if (d.quantity == Quantity::Rain) totals_.rain = d.sum;
        if (d.quantity == Quantity::Lightning) totals_.lightning = d.sum;
      }
    }
  } else {
    Note("cannot open");
  }
  worker_ = std::thread([this] { Run(); });
  pthread_setname_np(worker_.native_handle(), "wx118-archive");  // as top -H and the tests see it
}

void ArchiveWriter::Submit(ArchiveBatch&& batch) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(batch));
    TrimToBound(queue_);
  }
  wake_.notify_one();
}

void ArchiveWriter::Stop() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
  db_.Close();
}

std::optional<std::string> ArchiveWriter::TakeProblem() {
  const std::lock_guard lock(mutex_);
  std::optional<std::string> p;
  p.swap(problem_);
  return p;
}

// Worker thread only, with the mutex free.
void ArchiveWriter::Note(const std::string& what) {
  const ArchiveFault fault = db_.Fault();
  const std::lock_guard lock(mutex_);
  if (fault == reported_) return;
  reported_ = fault;
  problem_ = "Archive " + options_.database.string() + ": " + what + " (" + db_.Error() +
             "); the monitor goes on, and the archive keeps its records until it can write them";
}

void ArchiveWriter::Run() {
  using Clock = std::chrono::steady_clock;
  auto lastPages = Clock::now() - std::chrono::hours(1);
  int64_t newest = 0;
  bool pagesDue = false, pagesFailed = false;
  // Batches a fault kept out of the database, written before the next ones
  // when it goes away: a full disk or a lock costs no records.
  std::deque<ArchiveBatch> held;
  for (;;) {
    std::deque<ArchiveBatch> work;
    bool stopping;
    {
      std::unique_lock lock(mutex_);
      // Asleep until there is work: no wake-ups between records. Pages are
      // written at most once in a few seconds, so that a fast run (a
      // time-lapse demo) does not spend itself on them.
      const auto ready = [&] { return stopping_ || !queue_.empty(); };
      if (pagesDue)
        wake_.wait_until(lock, lastPages + std::chrono::seconds(5), ready);
      else
        wake_.wait(lock, ready);
      work.swap(queue_);
      stopping = stopping_;
    }
    if (!held.empty() && (!work.empty() || stopping)) {
      work.insert(work.begin(), std::make_move_iterator(held.begin()), std::make_move_iterator(held.end()));
      held.clear();
      TrimToBound(work);
    }
    if (!work.empty() && !db_.IsOpen() && !db_.Open(options_.database)) Note("cannot open");
    if (!work.empty() && db_.IsOpen()) {
      bool ok = db_.Begin();
      for (const ArchiveBatch& b : work) {
        if (!ok) break;
        ok = db_.Write(b);
      }
      if (ok) ok = db_.Commit();
      if (!ok) {
        db_.Rollback();
        Note("cannot write");
        // A damaged file is closed, so that the next try opens it afresh.
        if (db_.Fault() == ArchiveFault::Damaged) db_.Close();
        held = std::move(work);
      } else {
        for (const ArchiveBatch& b : work)
          if (b.record) newest = std::max(newest, b.record->time);
        const std::lock_guard lock(mutex_);
        reported_ = ArchiveFault::None;
        pagesDue = !options_.pageFolder.empty() && newest > 0;
      }
    } else if (!work.empty()) {
      held = std::move(work);  // not open: kept for the next try
    }
    if (pagesDue && (stopping || Clock::now() - lastPages >= std::chrono::seconds(5))) {
      pagesDue = false;
      lastPages = Clock::now();
      const std::string why = WriteHistoryFiles(db_, options_.pageFolder, newest, options_.station, swept_);
      // Said once, until the pages can be written again.
      if (!why.empty() && !pagesFailed) {
        const std::lock_guard lock(mutex_);
        if (!problem_) problem_ = "History page " + why;
      }
      pagesFailed = !why.empty();
    }
    if (stopping) {
      const std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
    }
  }
}

LiveArchive::LiveArchive(const ArchiveSettings& settings, const ArchiveWriter::Options& options, SnapshotSource source,
                         ErrorSink& errors)
    : writer_(options), recorder_(
                            settings.intervalMinutes * 60, [this](ArchiveBatch&& b) { writer_.Submit(std::move(b)); },
                            options.station.outdoor),
      source_(std::move(source)), errors_(errors) {
  writer_.Start();
  const ArchiveWriter::Totals totals = writer_.StartTotals();
  if (totals.day) recorder_.SeedTotals(totals.day, totals.rain, totals.lightning);
  if (auto p = writer_.TakeProblem()) errors_.ShowError(*p);
}

std::unique_ptr<LiveArchive> LiveArchive::FromSecondaryFile(const Settings& settings, const PathMapper& paths,
                                                            const StationSettings& station, SnapshotSource source,
                                                            ErrorSink& errors) {
  ArchiveSettings archive;
  if (const auto ini = SecondaryProfile(settings, paths)) {
    std::vector<std::string> problems;
    archive = ReadArchiveSettings(*ini, problems);
    for (const std::string& p : problems) errors.ShowError(p);
  }
  if (!archive.enabled) return nullptr;
  ArchiveWriter::Options options;
  options.database = paths.Map(settings.files.dataLogPath).parent_path() / kArchiveFileName;
  options.station = station;
  if (settings.page.phonePage) {
    std::string folder = settings.page.pageFolder;
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '/';
    options.pageFolder = paths.Map(folder).string();
    if (options.pageFolder.empty() || options.pageFolder.back() != '/') options.pageFolder += '/';
  }
  return std::make_unique<LiveArchive>(archive, std::move(options), std::move(source), errors);
}

LiveArchive::~LiveArchive() { Stop(); }

void LiveArchive::OnReading(const Reading& reading) {
  if (stopped_) return;
  recorder_.Observe(source_(reading.when));
  if (auto p = writer_.TakeProblem()) errors_.ShowError(*p);
}

void LiveArchive::Stop() {
  if (stopped_) return;
  stopped_ = true;
  recorder_.Finish();
  writer_.Stop();
  if (auto p = writer_.TakeProblem()) errors_.ShowError(*p);
}

}  // namespace wx
