// SPDX-License-Identifier: GPL-2.0-or-later
// The upload sections, each network's format, the judging of replies and the
// schedule. The real protocols against local servers: tests/e2e/uploads.sh.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <mutex>
#include <thread>

#include "support/fakes.h"
#include "upload/upload_formats.h"
#include "upload/uploads.h"

namespace wx {
namespace {

constexpr std::time_t kNoonUtc = 1796644800;  // 2026-12-07 12:00:00 UTC

UploadTarget Target(Network n, int interval = 300) {
  UploadTarget t;
  t.network = n;
  t.stationId = n == Network::Cwop ? "CW0001" : "ISTATION1";
  t.password = n == Network::Cwop ? "" : "s3cret&pw";
  t.intervalSeconds = interval;
  t.url = "http://127.0.0.1:9/up";
  return t;
}

WeatherValues Weather() {
  WeatherValues w;
  w.temperatureC = 20.0;
  w.humidityPercent = 55.4;
  w.dewPointC = 10.0;
  w.seaLevelPressureHpa = 1013.25;
  w.altimeterHpa = 990.0;
  w.windSpeedKmh = 50;           // the sustained speed wins
  w.windAverage2Kmh = 16.09344;  // 10 mph
  w.gustKmh = 32.18688;          // 20 mph
  w.windDirectionDeg = 359.6;
  w.rainLastHourMm = 2.54;
  w.rainTodayMm = 25.4;
  w.rain24hMm = 27.94;
  return w;
}

TEST(UploadSettings, SectionsDefaultsMinimumsAndWhatTurnsANetworkOff) {
  test::TempDir dir;
  const PathMapper paths(dir.path());
  const auto pw = dir.Write("pw.txt", "top&secret\r\nsecond line\n");
  ::chmod(pw.c_str(), 0600);
  const auto shared = dir.Write("shared.txt", "x\n");
  ::chmod(shared.c_str(), 0644);
  const std::string text = "[WUnderground]\nStationId=IX1\nPasswordFile=" + pw.string() +
                           "\nInterval=30\n"
                           "[PWSweather]\nPasswordFile=" +
                           pw.string() +
                           "\n"  // no StationId
                           "[WOW]\nStationId=9\nPasswordFile=" +
                           dir.path().string() +
                           "/none\n"
                           "[Windy]\nStationId=w\nPasswordFile=" +
                           shared.string() +
                           "\nUrl=ftp://x/y\n"
                           "[AWEKAS]\nStationId=a\nPasswordFile=" +
                           shared.string() +
                           "\nInterval=86400\n"
                           "[CWOP]\nCallsign=cw0001\nServer=127.0.0.1:14580\nInterval=abc\n";
  std::vector<std::string> problems;
  const auto targets = ReadUploadSettings(ProfileFile::FromText(text), paths, problems);
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0].network, Network::WUnderground);
  EXPECT_EQ(targets[0].password, "top&secret");
  EXPECT_EQ(targets[0].intervalSeconds, 60);  // raised to the network's minimum
  EXPECT_EQ(targets[0].url, "https://weatherstation.wunderground.com/weatherstation/updateweatherstation.php");
  EXPECT_EQ(targets[1].network, Network::Awekas);
  EXPECT_EQ(targets[1].intervalSeconds, 86400);
  EXPECT_EQ(targets[2].stationId, "CW0001");
  EXPECT_EQ(targets[2].host, "127.0.0.1");
  EXPECT_EQ(targets[2].port, 14580);
  EXPECT_EQ(targets[2].intervalSeconds, 300);
  std::string all;
  for (const auto& p : problems) all += p + "\n";
  for (const char* said : {"[WUnderground] Interval=30 is shorter", "[PWSweather] has no StationId",
                           "[WOW] PasswordFile=", "[Windy] Url=ftp://x/y", "[CWOP] Interval=abc",
                           "[AWEKAS] PasswordFile=" /* readable by others */})
    EXPECT_NE(all.find(said), std::string::npos) << said << "\n" << all;
  EXPECT_EQ(all.find("top&secret"), std::string::npos);
}

TEST(UploadFormats, UndergroundStyleUnitsDateAndUnknownValuesLeftOut) {
  const UploadValues v = PlausibleValues(Weather());
  EXPECT_EQ(UploadUrl(Target(Network::WUnderground), v, kNoonUtc, "1.0.0"),
            "http://127.0.0.1:9/up?ID=ISTATION1&PASSWORD=s3cret%26pw&action=updateraw"
            "&dateutc=2026-12-07%2012%3A00%3A00&tempf=68.0&humidity=55&dewptf=50.0&baromin=29.921"
            "&windspeedmph=10.0&windgustmph=20.0&winddir=0&rainin=0.10&dailyrainin=1.00&softwaretype=WX118%201.0.0");
  // Missing and implausible values are left out, never sent as zero.
  WeatherValues w;
  w.temperatureC = -3.5;
  w.humidityPercent = 130;
  w.seaLevelPressureHpa = 12.0;
  w.windSpeedKmh = std::nan("");
  const std::string wow = UploadUrl(Target(Network::Wow), PlausibleValues(w), kNoonUtc, "1");
  EXPECT_EQ(wow,
            "http://127.0.0.1:9/up?siteid=ISTATION1&siteAuthenticationKey=s3cret%26pw"
            "&dateutc=2026-12-07%2012%3A00%3A00&tempf=25.7&softwaretype=WX118%201");
  EXPECT_EQ(UploadUrl(Target(Network::Windy), v, kNoonUtc, "1"),
            "http://127.0.0.1:9/up?id=ISTATION1&PASSWORD=s3cret%26pw&time=2026-12-07T12%3A00%3A00Z&temp=20.0"
            "&humidity=55&dewpoint=10.0&pressure=101325&wind=4.5&gust=8.9&winddir=0&precip=2.5");
}

TEST(UploadFormats, AprsLoginAndWeatherReport) {
  UploadTarget cwop = Target(Network::Cwop);
  EXPECT_EQ(AprsLogin(cwop, "1.0.0"), "user CW0001 pass -1 vers WX118 1.0.0\r\n");
  WeatherValues w;
  // Frost, saturated air, a north wind and no gust or rain known; the far south-east.
  w.temperatureC = -20;
  w.humidityPercent = 99.7;
  w.windDirectionDeg = 0.2;
  w.windSpeedKmh = 0;
  EXPECT_EQ(AprsWeatherPacket(cwop, -33.999999, 151.5, PlausibleValues(w), kNoonUtc),
            "CW0001>APRS,TCPIP*:@071200z3400.00S/15130.00E_360/000g...t-04h00WX118\r\n");
  EXPECT_FALSE(AprsWeatherPacket(cwop, std::nullopt, 10.0, PlausibleValues(w), kNoonUtc));
}

TEST(UploadReplies, EachNetworksVerdictAndNoSecretInTheText) {
  const UploadTarget wu = Target(Network::WUnderground);
  EXPECT_TRUE(JudgeHttpReply(wu, 200, "success\n").ok);
  const ReplyVerdict bad = JudgeHttpReply(wu, 200, "INVALIDPASSWORDID|Password or key s3cret&pw wrong\n");
  EXPECT_EQ(bad.detail, "it answered \"INVALIDPASSWORDID|Password or key **** wrong\"");
  EXPECT_EQ(JudgeHttpReply(Target(Network::Windy), 401, "").detail, "HTTP status 401");
  EXPECT_FALSE(JudgeHttpReply(Target(Network::Awekas), 200, "Benutzer/Passwort falsch").ok);
  EXPECT_FALSE(JudgeHttpReply(Target(Network::Awekas), 200, "Token invalid").ok);
  EXPECT_FALSE(JudgeHttpReply(Target(Network::PWSweather), 200, "{\"error\":\"bad id\"}").ok);
  EXPECT_EQ(CleanServerText(std::string(300, 'x') + "\x01\n", wu).size(), 163u);
  EXPECT_EQ(JudgeAprsLine("# logresp N0CALL verified, server T2TEST"), LoginAnswer::Accepted);
}

// The schedule on the program's clock, with a transport that records.
class UploadSchedule : public ::testing::Test {
 protected:
  UploadOutcome Send(const UploadRequest& r, const std::atomic<bool>& stop) {
    std::unique_lock lock(mutex_);
    calls_.push_back({r.target.network, clock_.GetTickCount()});
    if (hang_ && r.target.network == Network::Windy) {
      lock.unlock();
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return {false, "stopped"};
    }
    return outcomes_.empty() ? UploadOutcome{true, ""} : Pop();
  }
  UploadOutcome Pop() {
    UploadOutcome o = outcomes_.front();
    outcomes_.erase(outcomes_.begin());
    return o;
  }
  // Seconds of cycles, one a second, each waiting for the workers to settle.
  void Run(Uploads& u, int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock_.AdvanceMs(1000);
      u.Tick([this] { return weather_; });
      const size_t hanging = hang_;  // Windy's first never ends
      for (int n = 0; n < 2000 && u.UnderWay() > hanging; ++n)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<uint32_t> SecondsBetween(Network n) {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> gaps, at;
    for (const auto& [net, tick] : calls_)
      if (net == n) at.push_back(tick);
    for (size_t i = 1; i < at.size(); ++i) gaps.push_back((at[i] - at[i - 1]) / 1000);
    return gaps;
  }
  std::unique_ptr<Uploads> Make(StationMeasures m) {
    auto u = std::make_unique<Uploads>(
        std::vector<UploadTarget>{Target(Network::WUnderground, 60), Target(Network::Windy, 300)}, StationSettings{}, m,
        clock_, errors_, "1", [this](const UploadRequest& r, const std::atomic<bool>& s) { return Send(r, s); });
    u->Start();
    return u;
  }

  test::SharedClock clock_;
  test::RecordingErrors errors_;
  WeatherValues weather_;
  std::mutex mutex_;
  std::vector<std::pair<Network, uint32_t>> calls_;
  std::vector<UploadOutcome> outcomes_;
  bool hang_ = false;
};

TEST_F(UploadSchedule, FirstOnceTheMeasuredValuesAreKnownThenEveryInterval) {
  StationMeasures m;
  m.temperature = m.humidity = true;
  auto u = Make(m);
  weather_.temperatureC = 5;
  Run(*u, 30);
  EXPECT_TRUE(calls_.empty());  // the humidity is not known yet
  weather_.humidityPercent = 80;
  Run(*u, 6);
  ASSERT_EQ(calls_.size(), 2u);
  Run(*u, 600);
  EXPECT_EQ(SecondsBetween(Network::WUnderground), std::vector<uint32_t>(10, 60));
  EXPECT_EQ(SecondsBetween(Network::Windy), std::vector<uint32_t>(2, 300));
  EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(UploadSchedule, FailuresBackOffAreSaidOnceAndTheirEndOnce) {
  outcomes_ = {{false, "HTTP status 401"}, {false, "HTTP status 401"}, {false, "HTTP status 401"}};
  hang_ = true;  // Windy never answers: the others keep their pace
  weather_.temperatureC = 5;
  auto u = Make({});
  Run(*u, 220);
  // 30 s, then doubled but never beyond the interval; the fourth works.
  EXPECT_EQ(SecondsBetween(Network::WUnderground), (std::vector<uint32_t>{30, 60, 60, 60}));
  ASSERT_EQ(errors_.errors.size(), 2u) << errors_.errors[0];
  EXPECT_EQ(errors_.errors[0],
            "Upload to Weather Underground failed: HTTP status 401; trying again at least every "
            "60 s, and this is said once until an upload works.");
  EXPECT_EQ(errors_.errors[1], "Upload to Weather Underground works again (after 3 failed attempts).");
  const auto before = std::chrono::steady_clock::now();
  u->Stop();  // breaks off the hanging transfer
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

}  // namespace
}  // namespace wx
