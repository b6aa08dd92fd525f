// SPDX-License-Identifier: GPL-2.0-or-later
// The published page (recent temperatures, on/off count, message, images), the
// JPEG picture of the chart beside it, and the timed page message. Both files
// are replaced atomically, since a web server may read them at any moment.
#pragma once
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "config/settings.h"
#include "channels/channel_state.h"
#include "graph/rgb_image.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "web/current_values.h"

namespace wx {

struct RecentReading {
  float first = 999.0f;
  float second = 999.0f;
  char unit = 'C';
  std::string time = "Not Read Yet";
  int32_t onOffCount = 999999;
};

// Row 0 the oldest, row 7 the newest.
using RecentReadingTable = std::array<RecentReading, 8>;

// "----" for 999.0, else one decimal; blank-padded to at least 6 characters.
std::string TemperatureCell(float value);
// Zero-padded to at least 6 characters.
std::string CountCell(int32_t count);
std::string TableRow(const RecentReading& row);

// Writes bytes to path through a temporary file in the same folder, synced and
// renamed over the old file. Returns an empty text on success, else the reason.
std::string ReplaceFileAtomically(const std::string& path, const std::string& bytes);
// ReplaceFileAtomically for a file the web server serves; the first write of a
// path in this run (remembered in swept) clears the temporaries a killed run left.
std::string ReplaceServedFile(const std::string& path, const std::string& bytes, std::set<std::string>& swept);
// Deletes the temporary files that ReplaceFileAtomically leaves beside path
// when the program is killed between creating and renaming one. Returns how
// many were removed, or -1 when the folder cannot be read.
int RemoveStaleTemporaries(const std::string& path);

// The IJG encoder with its default settings; empty on failure.
std::string EncodeJpeg(const RgbImage& image);

class WebPublisher {
 public:
  WebPublisher(PageConfig& page, const PathMapper& paths, const Clock& clock, Ui& ui,
               ErrorSink& errors, const ChannelState& channels, RgbImage& chartBitmap);

  void PushRecentReading(char unit, float first, float second);
  void WriteWebPage();
  void StampGraph();
  void ExportGraphJpeg();
  // The button handler "&Insert Comment in HTML".
  void buCommentInHTMLClick();

  // The scheduler's end-of-tick work: the periodic page (skipped until T0 has
  // a reading), the periodic picture, and the message expiry check.
  void PageUpdateTick(bool showCelsius);
  void ImageExportTick();
  void PageMessageExpiryCheck();

  // When set, every page write also replaces current.json and (with
  // [PhonePage] Index=1) index.html beside it.
  const CurrentValues* current = nullptr;

  RecentReadingTable RecentReadings;
  std::vector<std::string> meHTML;  // the page buffer
  DateTime NextPageTime;
  DateTime NextImageTime;

  // pageFolder joined with a file name, in the program's spelling.
  std::string FolderPath(const std::string& fileName) const;

 private:
  PageConfig& page_;
  const PathMapper& paths_;
  const Clock& clock_;
  Ui& ui_;
  ErrorSink& errors_;
  const ChannelState& channels_;
  RgbImage& chart_;
  // Targets already cleared of an earlier run's temporary files.
  std::set<std::string> swept_;
  std::string Publish(const std::string& where, const std::string& bytes);
};

}  // namespace wx
