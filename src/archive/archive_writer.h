// SPDX-License-Identifier: GPL-2.0-or-later
// The live archive: a reading observer that turns each reading's weather
// snapshot into archive batches (microseconds on the cycle) and a worker
// thread that writes them, then the history pages and summaries. A locked,
// full, read-only or damaged database is reported once through the error
// sink; the monitor goes on, and the worker keeps what it could not write
// and tries again with the next batch.
#pragma once
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "archive/archive_db.h"
#include "archive/history_pages.h"
#include "channels/reading_observer.h"
#include "config/settings.h"
#include "platform/error_sink.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace wx {

// The [Archive] section of the secondary file.
struct ArchiveSettings {
  bool enabled = true;      // Enabled=0 turns the archive off
  int intervalMinutes = 5;  // Interval=, 1..60
};
ArchiveSettings ReadArchiveSettings(const ProfileFile& ini, std::vector<std::string>& problems);

// Writes the history pages and both summaries of the month and year of
// `now` into folder (a native path ending in '/'); "" or the first failure.
// A target not yet in `swept` is first cleared of the temporary files a
// killed run left beside it.
std::string WriteHistoryFiles(ArchiveDb& db, const std::string& folder, int64_t now, const StationSettings& station,
                              std::set<std::string>& swept);

class ArchiveWriter {
 public:
  struct Options {
    std::filesystem::path database;
    std::string pageFolder;  // empty: no pages
    StationSettings station;
  };
  explicit ArchiveWriter(Options options);
  ~ArchiveWriter();
  // Opens the database on the calling thread (a short query at start-up for
  // the day's totals so far), then starts the worker.
  void Start();
  void Submit(ArchiveBatch&& batch);
  // Waits until every submitted batch is written (and the pages, when the
  // queue ran empty), then stops the worker.
  void Stop();
  // A problem the worker met and has not yet said; each kind once, until a
  // write succeeds again.
  std::optional<std::string> TakeProblem();
  // The day and its rain and strikes already archived (for SeedTotals).
  struct Totals {
    int day = 0;
    std::optional<double> rain, lightning;
  };
  Totals StartTotals() const { return totals_; }

 private:
  void Run();
  void Note(const std::string& what);

  Options options_;
  ArchiveDb db_;
  Totals totals_;
  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<ArchiveBatch> queue_;
  bool stopping_ = false;
  std::optional<std::string> problem_;
  ArchiveFault reported_ = ArchiveFault::None;
  std::set<std::string> swept_;  // worker thread only
};

// The reading observer the monitor subscribes: asks the weather for a
// snapshot on every reading and records it.
class LiveArchive : public ReadingObserver {
 public:
  using SnapshotSource = std::function<WeatherValues(DateTime)>;
  LiveArchive(const ArchiveSettings& settings, const ArchiveWriter::Options& options, SnapshotSource source,
              ErrorSink& errors);
  // The monitor's archive: beside the data log, the pages in the page folder
  // with [PhonePage] Index=1; nullptr when [Archive] Enabled=0.
  static std::unique_ptr<LiveArchive> FromSecondaryFile(const Settings& settings, const PathMapper& paths,
                                                        const StationSettings& station, SnapshotSource source,
                                                        ErrorSink& errors);
  ~LiveArchive() override;
  void OnReading(const Reading& reading) override;
  // The day's extremes of the unfinished interval out, the worker finished.
  void Stop();

 private:
  ArchiveWriter writer_;
  ArchiveRecorder recorder_;
  SnapshotSource source_;
  ErrorSink& errors_;
  bool stopped_ = false;
};

}  // namespace wx
