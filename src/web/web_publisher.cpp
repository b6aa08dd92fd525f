// SPDX-License-Identifier: GPL-2.0-or-later
#include "web/web_publisher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "datalog/stamps.h"
#include "platform/numeric_text.h"
#include "platform/text_encoding.h"
#include "web/stamp_text.h"

namespace wx {
namespace {

const char* kNoSecondImage = "pgmroguenotfound.jpg";

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

}  // namespace

std::string TemperatureCell(float value) {
  std::string s;
  if (value == 999.0f) {
    s = "----";
  } else {
    s = FixedHalfAway(value, 1);
  }
  if (s.size() < 6) s.insert(0, 6 - s.size(), ' ');
  return s;
}

std::string CountCell(int32_t count) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%06d", count);
  return buf;
}

std::string TableRow(const RecentReading& r) {
  return TemperatureCell(r.first) + " " + r.unit + "  " + TemperatureCell(r.second) + " " + r.unit +
         "  --at--  " + r.time + "   " + CountCell(r.onOffCount);
}

std::string ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string tmp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return std::strerror(errno);
  std::string why;
  size_t done = 0;
  while (done < bytes.size() && why.empty()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) why = n < 0 ? std::strerror(errno) : "short write";
    else done += static_cast<size_t>(n);
  }
  // mkstemp makes the file private; the web server must be able to read it.
  if (why.empty() && ::fchmod(fd, 0644) != 0) why = std::strerror(errno);
  if (why.empty() && ::fsync(fd) != 0) why = std::strerror(errno);
  if (::close(fd) != 0 && why.empty()) why = std::strerror(errno);
  if (why.empty() && ::rename(tmp.c_str(), path.c_str()) != 0) why = std::strerror(errno);
  if (!why.empty()) ::unlink(tmp.c_str());
  // The folder is not synced: a power loss before the rename reaches the disk
  // leaves the old file whole, and every file written here is written again at
  // the next publish. A folder sync per file was a third of the idle wakeups.
  return why;
}

std::string ReplaceServedFile(const std::string& path, const std::string& bytes, std::set<std::string>& swept) {
  // A run that was killed mid-write leaves its temporary file behind; the
  // first write of this run clears them out of the served folder.
  if (!swept.count(path) && RemoveStaleTemporaries(path) >= 0) swept.insert(path);
  return ReplaceFileAtomically(path, bytes);
}

int RemoveStaleTemporaries(const std::string& path) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  // mkstemp's names: "." + file name + "." + six letters or digits.
  const std::string prefix = "." + target.filename().string() + ".";
  int removed = 0;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return -1;
  for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    bool ours = true;
    for (size_t i = prefix.size(); i < name.size(); ++i)
      ours = ours && std::isalnum(static_cast<unsigned char>(name[i]));
    std::error_code rm;
    if (ours && it->is_regular_file(rm) && std::filesystem::remove(it->path(), rm)) ++removed;
  }
  return removed;
}

std::string EncodeJpeg(const RgbImage& image) {
  if (image.Width() == 0 || image.Height() == 0) return "";
  // Row by row from the image's own pixels: no copy of the whole picture.
  std::vector<JSAMPLE> row(static_cast<size_t>(image.Width()) * 3);
  auto rowOf = [&](int y) {
    const uint32_t* px = image.Row(y);
    for (int x = 0; x < image.Width(); ++x) {
      row[3 * x] = static_cast<JSAMPLE>(px[x] >> 16 & 0xFF);
      row[3 * x + 1] = static_cast<JSAMPLE>(px[x] >> 8 & 0xFF);
      row[3 * x + 2] = static_cast<JSAMPLE>(px[x] & 0xFF);
    }
    return row.data();
  };
  jpeg_compress_struct cinfo{};
  JpegError err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnJpegError;
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return "";
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(image.Width());
  cinfo.image_height = static_cast<JDIMENSION>(image.Height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = rowOf(static_cast<int>(cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string bytes(reinterpret_cast<const char*>(out), outSize);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return bytes;
}

WebPublisher::WebPublisher(PageConfig& page, const PathMapper& paths, const Clock& clock, Ui& ui,
                           ErrorSink& errors, const ChannelState& channels, RgbImage& chartBitmap)
    : NextPageTime(clock.Now()), NextImageTime(clock.Now()), page_(page), paths_(paths),
      clock_(clock), ui_(ui), errors_(errors), channels_(channels), chart_(chartBitmap) {}

std::string WebPublisher::FolderPath(const std::string& fileName) const {
  std::string folder = page_.pageFolder;
  // "wgp=/var/www/html" without its separator still means the folder.
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '/';
  return folder + fileName;
}

void WebPublisher::PushRecentReading(char unit, float first, float second) {
  for (size_t i = 0; i + 1 < RecentReadings.size(); ++i) RecentReadings[i] = RecentReadings[i + 1];
  RecentReadings.back() =
      RecentReading{first, second, unit, DateTimeText(clock_.Now(), true), channels_.CountLatest[11]};
}

void WebPublisher::WriteWebPage() {
  const std::string version = kVersionText;
  meHTML.clear();
  meHTML.push_back("<html>");
  meHTML.push_back("<head>");
  meHTML.push_back("<title>");
  meHTML.push_back("WebGlance from WX118, version " + version);
  meHTML.push_back("</title>");
  meHTML.push_back("</head>");
  meHTML.push_back("<body>");
  meHTML.push_back("<!--WGDF:aa recreated 2009-08-->Hello Gentle Reader. File updated at....<br>");
  meHTML.push_back(DateTimeText(clock_.Now(), false));
  meHTML.push_back("<br><br>");
  meHTML.push_back("Recent temperatures, oldest reading first, each followed by the count of on/off channel 1:");
  meHTML.push_back("<br><pre>");
  for (const RecentReading& r : RecentReadings) meHTML.push_back(TableRow(r));
  meHTML.push_back("</pre>");
  meHTML.push_back("Page written by WX118, version " + version + "<br><br>");
  meHTML.push_back("<center><img src=\"" + page_.imageFileName +
                   "\" alt=\"Graph of Weather Data. If not, prob can't "
                   "find file, or you have graphics off.\"></center>");
  if (!page_.pageMessage.empty()) meHTML.push_back("<br><br>" + page_.pageMessage);
  if (page_.secondImageName != kNoSecondImage) {
    meHTML.push_back("<br><br><center>" + page_.secondImageCaption + "</center>");
    meHTML.push_back("<br><br><center><img src=\"" + page_.secondImageName + "\" width=\"" +
                     page_.secondImageWidth + "%\" alt=\"" + page_.secondImageAlt + "\"></center>");
    meHTML.push_back(
        "<br><center><img src=\"FrmWx52.jpg\" width=\"50%\" alt=\"Image if FrmWx52.jpg supplied\"></center>");
    meHTML.push_back(
        "<br><br><center><img src=\"JpgForTweak.jpg\" width=\"80%\" alt=\"Image if JpgForTweak.jpg "
        "supplied\"></center>");
  } else {
    meHTML.push_back("<br><center>(A captioned image can be shown here: name it in the [SecondImage]");
    meHTML.push_back("section of the secondary configuration file WX118ini2.txt.");
    meHTML.push_back("If an image does not show, its file must be in the same folder as this page");
    meHTML.push_back("and be named there exactly as the file is named.)</center><br>");
  }
  meHTML.push_back("</body>");
  meHTML.push_back("</html>");

  std::string bytes;
  for (const std::string& l : meHTML) bytes += l + "\r\n";
  const std::string where = FolderPath(page_.pageFileName);
  const std::string why = Publish(where, bytes);
  if (!why.empty()) {
    errors_.ShowError("During WriteWebPage, Cannot create file " + paths_.Shown(where) + " (" + why + ")");
    return;  // the files beside it would fail the same way
  }
  if (!current) return;
  const DateTime now = clock_.Now();
  for (const bool phone : {false, true}) {
    if (phone && !page_.phonePage) continue;
    const std::string beside = FolderPath(phone ? "index.html" : "current.json");
    const std::string failed = Publish(beside, phone ? current->PhonePage(now) : current->Json(now));
    if (!failed.empty())
      errors_.ShowError("During WriteWebPage, Cannot create file " + paths_.Shown(beside) + " (" + failed + ")");
  }
}

std::string WebPublisher::Publish(const std::string& where, const std::string& bytes) {
  return ReplaceServedFile(paths_.Map(where).string(), bytes, swept_);
}

void WebPublisher::StampGraph() {
  // Opaque text over the chart's white background, in the font of the
  // table rendered at build time: the same picture with windows or without.
  DrawStampText(chart_, 0, 4, "   ");
  DrawStampText(chart_, 4, 4, "Graph updated " + DateTimeText(clock_.Now(), true));
}

void WebPublisher::ExportGraphJpeg() {
  const std::string where = FolderPath(page_.imageFileName);
  const std::string bytes = EncodeJpeg(chart_);
  if (bytes.empty()) {
    errors_.ShowError("During ExportGraphJpeg, the graph could not be encoded for " + paths_.Shown(where));
    return;
  }
  const std::string why = Publish(where, bytes);
  if (!why.empty())
    errors_.ShowError("During ExportGraphJpeg, Cannot create file " + paths_.Shown(where) + " (" + why + ")");
}

void WebPublisher::buCommentInHTMLClick() {
  page_.pageMessage =
      ui_.InputBox("Set Line in WebGlance Output", "Enter the line you want included.", "");
  const DialogAnswer a = ui_.AskYesNoCancel("Set time limit for display?", 200, 200);
  if (a == DialogAnswer::No) {
    page_.pageMessageExpiry = 0;
  } else {
    double days = 0;
    for (;;) {
      ui_.ShowMessage(
          "Next you will set how long the message should be part of the page of HTML created by the "
          "application. Enter zero to make the message continue until you change it again. Otherwise "
          "enter how many days you want it to persist. You may use fractions, e.g. use 0.5 to make the "
          "message last 12 hours. (Half a day).");
      const std::string answer(Trim(ui_.InputBox("How long should message persist?",
                                                  "For how many days? 0.5 gives 12 hours.", "1")));
      // Locale-independent: "0.5" is a half whatever the desktop's language.
      const char* b = answer.data();
      if (answer.size() > 1 && answer[0] == '+') ++b;
      const char* e = b + answer.size();
      const auto r = std::from_chars(b, e, days, std::chars_format::fixed);
      if (!answer.empty() && r.ec == std::errc() && r.ptr == e && std::isfinite(days)) break;
    }
    page_.pageMessageExpiry = days == 0 ? 0 : clock_.Now() + days;
  }
  WriteWebPage();
}

void WebPublisher::PageUpdateTick(bool showCelsius) {
  const DateTime now = clock_.Now();
  // The clock went back: the next page is due now, not after the step.
  if (NextPageTime > now + page_.pageIntervalDays) NextPageTime = now;
  if (!(now > NextPageTime)) return;
  NextPageTime = now + page_.pageIntervalDays;
  const float t0 = channels_.LatestTture[0], t1 = channels_.LatestTture[1];
  if (t0 == 999.0f) return;
  if (showCelsius)
    PushRecentReading('C', t0, t1);
  else
    PushRecentReading('F', CelsiusToFahrenheit(t0), CelsiusToFahrenheit(t1));
  WriteWebPage();
}

void WebPublisher::ImageExportTick() {
  const DateTime now = clock_.Now();
  if (NextImageTime > now + page_.imageIntervalDays) NextImageTime = now;
  if (page_.imageIntervalSeconds == 0 || !(now > NextImageTime)) return;
  NextImageTime = now + page_.imageIntervalDays;
  StampGraph();
  ExportGraphJpeg();
}

void WebPublisher::PageMessageExpiryCheck() {
  if (page_.pageMessageExpiry > 0 && clock_.Now() > page_.pageMessageExpiry) page_.pageMessage.clear();
}

}  // namespace wx
