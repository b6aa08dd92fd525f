// SPDX-License-Identifier: GPL-2.0-or-later
#include "web/web_publisher.h"

#include <sys/stat.h>

#include <jpeglib.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <atomic>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "datalog/stamps.h"
#include "platform/numeric_text.h"
#include "support/fakes.h"
#include "web/stamp_text.h"

namespace wx {
namespace {

namespace fs = std::filesystem;

using test::ReadFile;

// The dialogs in order, each message cut to its first words.
std::vector<std::string> Brief(const std::vector<std::string>& dialogs) {
  std::vector<std::string> out;
  for (const auto& d : dialogs) out.push_back(d.rfind("msg:", 0) == 0 ? d.substr(0, 24) : d);
  return out;
}

std::vector<std::string> Lines(const std::string& all) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < all.size()) {
    const size_t e = all.find("\r\n", pos);
    if (e == std::string::npos) {
      out.push_back(all.substr(pos) + "<no CR LF>");
      break;
    }
    out.push_back(all.substr(pos, e - pos));
    pos = e + 2;
  }
  return out;
}

// The image as the toolkit's, its pixels shared, to draw on and compare.
QImage Wrap(RgbImage& image) {
  return QImage(reinterpret_cast<uchar*>(image.MutableRow(0)), image.Width(), image.Height(), image.Width() * 4,
                QImage::Format_RGB32);
}

class WebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/wx118-web-XXXXXX";
    root_ = mkdtemp(tmpl);
    mapper_ = PathMapper(root_);
    fs::create_directories(root_ / "c");
    web_ = std::make_unique<WebPublisher>(page_, mapper_, clock_, ui_, sink_, channels_, chart_);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path PageFile() const { return root_ / "c" / "WX118WG.htm"; }

  fs::path root_;
  PathMapper mapper_{"/nonexistent"};
  FakeClock clock_{*EncodeDateTime(2026, 12, 7, 14, 5, 9)};
  PageConfig page_;
  test::ScriptedUi ui_;
  test::RecordingErrors sink_;
  ChannelState channels_;
  RgbImage chart_{780, 237};
  std::unique_ptr<WebPublisher> web_;
};

const std::string kInitialRow = "  ---- C    ---- C  --at--  Not Read Yet   999999";

TEST(WebCells, Formats) {
  EXPECT_EQ(TemperatureCell(-12.34f), " -12.3");
  EXPECT_EQ(TemperatureCell(100.26f), " 100.3");
  EXPECT_EQ(TemperatureCell(21.53f), "  21.5");
  EXPECT_EQ(TemperatureCell(-4.0f), "  -4.0");
  EXPECT_EQ(TemperatureCell(999.0f), "  ----");
  EXPECT_EQ(TemperatureCell(-123.46f), "-123.5");
  EXPECT_EQ(TemperatureCell(1234.5f), "1234.5");
  // Exact halves round away from zero: 21.25 C is 70.25 F.
  EXPECT_EQ(TemperatureCell(CelsiusToFahrenheit(21.25f)), "  70.3");
  EXPECT_EQ(TemperatureCell(-0.25f), "  -0.3");
  EXPECT_EQ(TemperatureCell(-0.04f), "   0.0");
  EXPECT_EQ(CountCell(123), "000123");
  EXPECT_EQ(CountCell(1234567), "1234567");
  EXPECT_EQ(TableRow(RecentReading{}), kInitialRow);
}

// current.json and index.html beside the page: what the announcements
// said, only for enabled channels, valid JSON whatever the message holds,
// and the page itself unchanged by them.
TEST_F(WebTest, CurrentJsonAndPhonePageFollowTheAnnouncedReadings) {
  web_->WriteWebPage();
  const std::string plainPage = ReadFile(PageFile());
  Settings settings;
  settings.station.sensorEnabled[0] = settings.station.sensorEnabled[8] = settings.station.sensorEnabled[10] = true;
  settings.station.windOffset = 2;
  settings.page.pageMessage = "Caf\xe9 <b>open</b></script>";
  CurrentValues current(settings);
  Weather weather(settings, StationSettings{}, sink_);
  current.weather = &weather;
  ReadingAnnouncer announcer;
  announcer.Subscribe(current);
  announcer.Subscribe(weather);
  const DateTime t = clock_.Now();
  announcer.Announce(Reading{0, t, Stamp(t), 21.5, false});
  announcer.Announce(Reading{1, t, Stamp(t), 5.0, false});  // not enabled
  announcer.Announce(Reading{10, t, Stamp(t), 3, false});
  announcer.Announce(Reading{10, t, Stamp(t), 16, true});
  web_->current = &current;
  auto json = [&] {
    const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(root_ / "c" / "current.json")));
    EXPECT_TRUE(doc.isObject());
    return doc.object();
  };
  web_->WriteWebPage();
  EXPECT_EQ(ReadFile(PageFile()), plainPage);
  EXPECT_FALSE(fs::exists(root_ / "c" / "index.html"));
  QJsonObject d = json();
  EXPECT_EQ(d["message"].toString(), QString::fromUtf8("Caf\u00e9 <b>open</b></script>"));
  QJsonArray ch = d["channels"].toArray();
  ASSERT_EQ(ch.size(), 3);
  EXPECT_EQ(ch[0].toObject()["raw"].toDouble(), 21.5);
  EXPECT_FALSE(ch[0].toObject().contains("value"));  // no [Units]
  EXPECT_EQ(ch[0].toObject()["time"].toString().left(19), "2026-12-07T14:05:09");
  EXPECT_TRUE(ch[1].toObject()["raw"].isNull());       // enabled, not read yet
  EXPECT_EQ(ch[2].toObject()["direction"].toString(), "ESE");  // index 3 turned by the offset 2
  EXPECT_TRUE(ch[2].toObject()["average"].toObject()["direction"].isNull());
  // The weather: what the readings give, null for what they cannot.
  const QJsonObject w = d["weather"].toObject();
  EXPECT_EQ(w["temperature"].toObject()["value"].toDouble(), 21.5);
  EXPECT_EQ(w["temperature"].toObject()["unit"].toString(), QString::fromUtf8("°C"));
  EXPECT_TRUE(w["dew_point"].isNull());
  EXPECT_TRUE(w["sea_level_pressure"].isNull());  // no calibration
  EXPECT_EQ(w["day"].toObject()["T0"].toObject()["high"].toObject()["time"].toString().toStdString(),
            IsoLocalTime(t));

  settings.units.present = true;
  settings.units.fahrenheit = true;
  page_.phonePage = true;
  web_->WriteWebPage();
  EXPECT_EQ(json()["channels"].toArray()[0].toObject()["value"].toDouble(), 70.7);
  const std::string phone = ReadFile(root_ / "c" / "index.html");
  EXPECT_NE(phone.find("name=\"viewport\""), std::string::npos);
  // The message's "</script>" stays inside the embedded data.
  const size_t data = phone.find("<script id=\"initial\"");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(phone.find("</script>", data), phone.find("\n</script>\n<script>", data) + 1);
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(WebTest, StartUpPageLineByLine) {
  web_->WriteWebPage();
  const auto lines = Lines(ReadFile(PageFile()));
  ASSERT_EQ(lines.size(), 29u);
  EXPECT_EQ(lines, web_->meHTML);
  EXPECT_EQ(lines[0], "<html>");
  EXPECT_EQ(lines[1], "<head>");
  EXPECT_EQ(lines[2], "<title>");
  EXPECT_NE(lines[3].find("WebGlance"), std::string::npos);
  EXPECT_NE(lines[3].find("WX118"), std::string::npos);
  EXPECT_NE(lines[3].find("1 Sept 10"), std::string::npos);
  EXPECT_EQ(lines[4], "</title>");
  EXPECT_EQ(lines[5], "</head>");
  EXPECT_EQ(lines[6], "<body>");
  EXPECT_EQ(lines[7], "<!--WGDF:aa recreated 2009-08-->Hello Gentle Reader. File updated at....<br>");
  EXPECT_EQ(lines[8], "07-Dec-2026, 14:05");
  EXPECT_EQ(lines[9], "<br><br>");
  EXPECT_EQ(lines[11], "<br><pre>");
  for (int i = 12; i < 20; ++i) EXPECT_EQ(lines[i], kInitialRow);
  EXPECT_EQ(lines[20], "</pre>");
  EXPECT_EQ(lines[21].substr(lines[21].size() - 8), "<br><br>");
  EXPECT_NE(lines[21].find("WX118"), std::string::npos);
  EXPECT_EQ(lines[22],
            "<center><img src=\"WX118WG.jpg\" alt=\"Graph of Weather Data. If not, prob can't find "
            "file, or you have graphics off.\"></center>");
  // No message line; the four-line note about the second image.
  EXPECT_EQ(lines[23].rfind("<br><center>(", 0), 0u);
  EXPECT_NE(lines[23].find("[SecondImage]"), std::string::npos);
  EXPECT_EQ(lines[26].substr(lines[26].size() - 14), ")</center><br>");
  EXPECT_EQ(lines[27], "</body>");
  EXPECT_EQ(lines[28], "</html>");
  EXPECT_TRUE(sink_.errors.empty());
  struct stat st {};
  ASSERT_EQ(stat(PageFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // readable by the web server
}

TEST_F(WebTest, ThreeUpdatesMessageAndSecondImage) {
  page_.pageIntervalDays = SecondsToDays(60);
  channels_.CountLatest[11] = 123;
  web_->PageUpdateTick(true);  // not later than NextPageTime yet
  EXPECT_FALSE(fs::exists(PageFile()));
  clock_.AdvanceMs(1000);
  web_->PageUpdateTick(true);  // no T0 reading: nothing pushed, nothing written
  EXPECT_FALSE(fs::exists(PageFile()));
  channels_.LatestTture = {21.53f, 999.0f, 0, 0, 0};
  web_->PageUpdateTick(true);  // the interval from the skipped update still runs
  EXPECT_FALSE(fs::exists(PageFile()));
  clock_.AdvanceMs(61000);
  web_->PageUpdateTick(true);
  clock_.AdvanceMs(61000);
  channels_.LatestTture[1] = -12.34f;
  channels_.CountLatest[11] = 1234567;
  web_->PageUpdateTick(true);
  clock_.AdvanceMs(61000);
  web_->PageUpdateTick(false);
  auto lines = Lines(ReadFile(PageFile()));
  ASSERT_EQ(lines.size(), 29u);
  for (int i = 12; i < 17; ++i) EXPECT_EQ(lines[i], kInitialRow);
  EXPECT_EQ(lines[17], "  21.5 C    ---- C  --at--  07-Dec-2026, 14:06:11   000123");
  EXPECT_EQ(lines[18], "  21.5 C   -12.3 C  --at--  07-Dec-2026, 14:07:12   1234567");
  EXPECT_EQ(lines[19], "  70.8 F     9.8 F  --at--  07-Dec-2026, 14:08:13   1234567");

  page_.pageMessage = "Gauge <b>cleaned</b>";
  page_.secondImageName = "yard.jpg";
  page_.secondImageCaption = "The yard";
  page_.secondImageAlt = "Yard";
  page_.secondImageWidth = "60";
  web_->WriteWebPage();
  lines = Lines(ReadFile(PageFile()));
  ASSERT_EQ(lines.size(), 30u);
  EXPECT_EQ(lines[23], "<br><br>Gauge <b>cleaned</b>");
  EXPECT_EQ(lines[24], "<br><br><center>The yard</center>");
  EXPECT_EQ(lines[25], "<br><br><center><img src=\"yard.jpg\" width=\"60%\" alt=\"Yard\"></center>");
  EXPECT_EQ(lines[26], "<br><center><img src=\"FrmWx52.jpg\" width=\"50%\" alt=\"Image if FrmWx52.jpg supplied\"></center>");
  EXPECT_EQ(lines[27], "<br><br><center><img src=\"JpgForTweak.jpg\" width=\"80%\" alt=\"Image if JpgForTweak.jpg supplied\"></center>");
  EXPECT_EQ(lines[28], "</body>");
}

TEST_F(WebTest, NativeFolderWithoutSeparator) {
  page_.pageFolder = (root_ / "www").string();
  fs::create_directories(root_ / "www");
  web_->WriteWebPage();
  EXPECT_TRUE(fs::exists(root_ / "www" / "WX118WG.htm"));
  page_.pageFolder = "D:\\web\\";
  EXPECT_EQ(web_->FolderPath("x.htm"), "D:\\web\\x.htm");
}

TEST_F(WebTest, UnwritableFolderIsReportedAndRetried) {
  page_.pageFolder = "D:\\web\\";
  web_->WriteWebPage();
  ASSERT_EQ(sink_.errors.size(), 1u);
  EXPECT_NE(sink_.errors[0].find("Cannot create file D:\\web\\WX118WG.htm"), std::string::npos);
  web_->ExportGraphJpeg();
  ASSERT_EQ(sink_.errors.size(), 2u);
  EXPECT_NE(sink_.errors[1].find("D:\\web\\WX118WG.jpg"), std::string::npos);
  fs::create_directories(root_ / "d" / "web");
  web_->WriteWebPage();
  web_->ExportGraphJpeg();
  EXPECT_EQ(sink_.errors.size(), 2u);
  EXPECT_EQ(Lines(ReadFile(root_ / "d" / "web" / "WX118WG.htm")).size(), 29u);
  EXPECT_TRUE(fs::exists(root_ / "d" / "web" / "WX118WG.jpg"));
  int leftovers = 0;
  for (auto& e : fs::directory_iterator(root_ / "d" / "web")) leftovers += e.path().filename().string()[0] == '.';
  EXPECT_EQ(leftovers, 0);
  // A native folder with "\\" joined on names the real file.
  page_.pageFolder = (root_ / "gone").string() + "\\";
  web_->WriteWebPage();
  EXPECT_EQ(sink_.errors.back().rfind("During WriteWebPage, Cannot create file " + (root_ / "gone/WX118WG.htm").string() + " (", 0), 0u);
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};

Decoded DecodeJpeg(const std::string& bytes) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  Decoded d{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), {}};
  d.rgb.resize(static_cast<size_t>(d.width) * d.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = d.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * d.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return d;
}

TEST_F(WebTest, JpegDecodesToTheChart) {
  QImage view = Wrap(chart_);
  QPainter p(&view);
  p.fillRect(QRect(100, 50, 200, 100), QColor(200, 30, 30));
  p.fillRect(QRect(400, 120, 300, 80), QColor(20, 40, 220));
  p.end();
  page_.imageIntervalSeconds = 600;
  page_.imageIntervalDays = SecondsToDays(600);
  clock_.AdvanceMs(1);
  web_->ImageExportTick();
  const Decoded d = DecodeJpeg(ReadFile(root_ / "c" / "WX118WG.jpg"));
  ASSERT_EQ(d.width, 780);
  ASSERT_EQ(d.height, 237);
  double sumErr = 0;
  int worst = 0;
  for (int y = 0; y < 237; ++y)
    for (int x = 0; x < 780; ++x) {
      const QRgb q = chart_.Pixel(x, y);
      const unsigned char* px = &d.rgb[(static_cast<size_t>(y) * 780 + x) * 3];
      const int e = std::abs(px[0] - qRed(q)) + std::abs(px[1] - qGreen(q)) + std::abs(px[2] - qBlue(q));
      sumErr += e;
      worst = std::max(worst, e);
    }
  EXPECT_LT(sumErr / (780.0 * 237 * 3), 3.0);
  // Far from edges, flat areas survive almost exactly.
  const unsigned char* mid = &d.rgb[(static_cast<size_t>(100) * 780 + 200) * 3];
  EXPECT_NEAR(mid[0], 200, 6);
  EXPECT_NEAR(mid[1], 30, 6);
  EXPECT_NEAR(mid[2], 30, 6);
}

TEST_F(WebTest, StampGraphWritesBlackTextTopLeftOnlyWhenExportIsOn) {
  page_.imageIntervalSeconds = 0;
  clock_.AdvanceMs(1000);
  web_->ImageExportTick();
  EXPECT_EQ(chart_.Pixel(20, 10), qRgb(255, 255, 255));
  EXPECT_FALSE(fs::exists(root_ / "c" / "WX118WG.jpg"));
  page_.imageIntervalSeconds = 600;
  page_.imageIntervalDays = SecondsToDays(600);
  web_->ImageExportTick();
  EXPECT_TRUE(fs::exists(root_ / "c" / "WX118WG.jpg"));
  int black = 0, blackBelow = 0;
  for (int y = 0; y < 237; ++y)
    for (int x = 0; x < 780; ++x)
      if (qGray(chart_.Pixel(x, y)) < 80) (y < 24 && x < 260 ? black : blackBelow)++;
  EXPECT_GT(black, 50);
  EXPECT_EQ(blackBelow, 0);
  // Not due again until ten minutes have passed.
  fs::remove(root_ / "c" / "WX118WG.jpg");
  clock_.AdvanceMs(599000);
  web_->ImageExportTick();
  EXPECT_FALSE(fs::exists(root_ / "c" / "WX118WG.jpg"));
  clock_.AdvanceMs(2000);
  web_->ImageExportTick();
  EXPECT_TRUE(fs::exists(root_ / "c" / "WX118WG.jpg"));
}

// Text drawn by the toolkit: the font at 8 points, opaque (the cell behind
// it filled white first), black.
void ToolkitText(QImage& image, int x, int y, const std::string& text) {
  QPainter p(&image);
  QFont font = p.font();
  font.setPointSize(8);
  p.setFont(font);
  const QFontMetrics fm(font);
  const QString t = QString::fromStdString(text);
  p.fillRect(QRect(x, y, fm.horizontalAdvance(t), fm.height()), Qt::white);
  p.setPen(Qt::black);
  p.drawText(x, y + fm.ascent(), t);
}

// The same dark pixels (the text's ink) and nearly the same shades.
void ExpectLooksTheSame(const QImage& expected, const QImage& drawn) {
  QRect inkExpected, inkDrawn;
  int differing = 0, worst = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 300; ++x) {
      const int e = qGray(expected.pixel(x, y)), d = qGray(drawn.pixel(x, y));
      if (e < 128) inkExpected |= QRect(x, y, 1, 1);
      if (d < 128) inkDrawn |= QRect(x, y, 1, 1);
      if (e != d) ++differing;
      worst = std::max(worst, std::abs(e - d));
    }
  EXPECT_GT(inkExpected.width(), 150);
  EXPECT_EQ(inkDrawn, inkExpected);
  EXPECT_LE(worst, 8);
  EXPECT_LT(differing, 30);
}

// The stamp drawn from the build's glyph table looks as the toolkit draws
// it, over lines on the chart so that the opaque cell counts too; and so
// does text whose pairs the font kerns.
TEST_F(WebTest, StampGraphDrawsAsTheToolkitDrawsText) {
  QImage view = Wrap(chart_);
  QPainter lines(&view);
  lines.setPen(Qt::cyan);  // light enough not to count as the text's ink
  for (int x = 0; x < 300; x += 7) lines.drawLine(x, 0, x + 20, 30);
  lines.end();
  const RgbImage before = chart_;
  QImage expected = view.copy();
  ToolkitText(expected, 0, 4, "   ");
  ToolkitText(expected, 4, 4, "Graph updated " + DateTimeText(clock_.Now(), true));
  web_->StampGraph();
  ExpectLooksTheSame(expected, view);

  const std::string kerned = "01-Jly-2026, 13:45:07 -Oct- AVAT Ty \"Yo\"";
  RgbImage drawn = before;
  expected = Wrap(drawn).copy();
  ToolkitText(expected, 3, 9, kerned);
  DrawStampText(drawn, 3, 9, kerned);
  ExpectLooksTheSame(expected, Wrap(drawn));
}

// Text partly or wholly off the picture, or not printable ASCII, is clipped
// and drawn with a stand-in, never outside the image.
TEST_F(WebTest, StampTextClipsToThePicture) {
  RgbImage small(20, 10, qRgb(0, 0, 255));
  small.TakeChanged();
  DrawStampText(small, 12, -6, "\x01\xff\tGg", kStampFont);
  DrawStampText(small, -1000000, 1000000, "far away");
  // What the windows repaint holds every pixel written.
  const PixelRect wrote = small.TakeChanged();
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      if (small.Pixel(x, y) != qRgb(0, 0, 255)) {
        EXPECT_TRUE(x >= wrote.left && x <= wrote.right && y >= wrote.top && y <= wrote.bottom) << x << ", " << y;
      }
  EXPECT_EQ(small.Pixel(11, 0), qRgb(0, 0, 255));
  EXPECT_EQ(small.Pixel(12, 0), qRgb(255, 255, 255));
  EXPECT_EQ(small.Pixel(19, 6), qRgb(255, 255, 255));
  EXPECT_EQ(small.Pixel(12, 7), qRgb(0, 0, 255));
  EXPECT_EQ(StampTextWidth("\x01"), StampTextWidth("?"));
}

TEST_F(WebTest, ReaderNeverSeesAPartialPage) {
  // Real rewrites on a memory-backed folder keep this quick; the swap is the same.
  char tmpl[] = "/dev/shm/wx118-race-XXXXXX";
  const fs::path folder = mkdtemp(tmpl);
  page_.pageFolder = folder.string() + "/";
  web_->WriteWebPage();
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread reader([&] {
    while (!stop) {
      const std::string all = ReadFile(folder / "WX118WG.htm");
      ++reads;
      if (Lines(all).size() != 29 || all.rfind("<html>\r\n", 0) != 0 ||
          all.substr(all.size() - 9) != "</html>\r\n")
        ++bad;
    }
  });
  for (int i = 0; i < 1000; ++i) {
    web_->PushRecentReading('C', static_cast<float>(i % 50), 1.0f);
    web_->WriteWebPage();
  }
  stop = true;
  reader.join();
  fs::remove_all(folder);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(WebTest, PageMessageDialogs) {
  // Yes, then a bad answer, then half a day.
  ui_.inputs = {"Gauge cleaned", "soon", "0.5"};
  ui_.yesNoAnswers = {DialogAnswer::Yes};
  web_->buCommentInHTMLClick();
  const std::vector<std::string> expect = {
      "input:Set Line in WebGlance Output", "ask:Set time limit for display?@200,200",
      "msg:Next you will set ho", "input:How long should message persist?",
      "msg:Next you will set ho", "input:How long should message persist?"};
  EXPECT_EQ(Brief(ui_.dialogs), expect);
  EXPECT_EQ(page_.pageMessage, "Gauge cleaned");
  EXPECT_NEAR(page_.pageMessageExpiry, clock_.Now() + 0.5, 1e-9);
  EXPECT_EQ(Lines(ReadFile(PageFile()))[23], "<br><br>Gauge cleaned");
  clock_.JumpDays(0.49);
  web_->PageMessageExpiryCheck();
  EXPECT_EQ(page_.pageMessage, "Gauge cleaned");
  clock_.JumpDays(0.02);
  web_->PageMessageExpiryCheck();
  EXPECT_EQ(page_.pageMessage, "");

  // No: no expiry at all.
  ui_.inputs = {"Stays"};
  ui_.yesNoAnswers = {DialogAnswer::No};
  web_->buCommentInHTMLClick();
  EXPECT_EQ(page_.pageMessageExpiry, 0);
  clock_.JumpDays(1000);
  web_->PageMessageExpiryCheck();
  EXPECT_EQ(page_.pageMessage, "Stays");

  // Cancel asks for days too; a cancelled days box gives its default, one day.
  ui_.inputs = {"One day"};
  ui_.yesNoAnswers = {DialogAnswer::Cancel};
  web_->buCommentInHTMLClick();
  EXPECT_NEAR(page_.pageMessageExpiry, clock_.Now() + 1, 1e-9);

  // Zero keeps it; a negative number removes it at the next check.
  ui_.inputs = {"Zero", " 0 "};
  ui_.yesNoAnswers = {DialogAnswer::Yes};
  web_->buCommentInHTMLClick();
  EXPECT_EQ(page_.pageMessageExpiry, 0);
  ui_.inputs = {"Negative", "-1"};
  ui_.yesNoAnswers = {DialogAnswer::Yes};
  web_->buCommentInHTMLClick();
  web_->PageMessageExpiryCheck();
  EXPECT_EQ(page_.pageMessage, "");

  // A cancelled message box empties the message: line 24 disappears.
  ui_.inputs = {};
  ui_.yesNoAnswers = {DialogAnswer::No};
  web_->buCommentInHTMLClick();
  EXPECT_EQ(Lines(ReadFile(PageFile())).size(), 29u);
}

}  // namespace
}  // namespace wx
