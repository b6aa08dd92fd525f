// SPDX-License-Identifier: GPL-2.0-or-later
#include "upload/upload_formats.h"

#include <QCryptographicHash>
#include <QByteArray>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace wx {
namespace {

// Beyond these the value is a sensor fault, not weather.
std::optional<double> Within(const std::optional<double>& v, double low, double high) {
  if (v && *v >= low && *v <= high) return v;  // NaN fails both
  return std::nullopt;
}

double Fahrenheit(double c) { return c * 9.0 / 5.0 + 32.0; }
double Mph(double kmh) { return kmh / 1.609344; }
double Inches(double mm) { return mm / 25.4; }
double InchesOfMercury(double hpa) { return hpa * 0.0295299830714; }

// Fixed decimals without the locale (Qt sets the user's, which may write a
// decimal comma) and without "-0.0".
std::string Fixed(double v, int decimals) {
  char buf[48];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, r.ptr);
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}
std::string Whole(double v) { return Fixed(v, 0); }

std::string PercentEncode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::tm UtcParts(std::time_t utc) {
  std::tm tm{};
  gmtime_r(&utc, &tm);
  return tm;
}

std::string TimeText(std::time_t utc, const char* format) {
  const std::tm tm = UtcParts(utc);
  char buf[64];
  return std::string(buf, std::strftime(buf, sizeof buf, format, &tm));
}

class Query {
 public:
  void Add(const char* key, const std::string& value) {
    text_ += text_.empty() ? '?' : '&';
    text_ += key;
    text_ += '=';
    text_ += PercentEncode(value);
  }
  void Add(const char* key, const std::optional<double>& v, double (*convert)(double), int decimals) {
    if (v) Add(key, Fixed(convert ? convert(*v) : *v, decimals));
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

double Identity(double v) { return v; }
double MetresPerSecond(double kmh) { return kmh / 3.6; }
double Pascals(double hpa) { return hpa * 100.0; }
double WholeDirection(double deg) { return std::fmod(std::round(deg), 360.0); }

// The fields of the Weather Underground protocol, which PWSweather and WOW
// take too.
void AddUndergroundFields(Query& q, const UploadValues& v) {
  q.Add("tempf", v.temperatureC, Fahrenheit, 1);
  q.Add("humidity", v.humidityPercent, Identity, 0);
  q.Add("dewptf", v.dewPointC, Fahrenheit, 1);
  q.Add("baromin", v.seaLevelHpa, InchesOfMercury, 3);
  q.Add("windspeedmph", v.windKmh, Mph, 1);
  q.Add("windgustmph", v.gustKmh, Mph, 1);
  q.Add("winddir", v.directionDeg, WholeDirection, 0);
  q.Add("rainin", v.rainHourMm, Inches, 2);
  q.Add("dailyrainin", v.rainTodayMm, Inches, 2);
}

std::string AwekasField(const std::optional<double>& v, int decimals) {
  return v ? Fixed(*v, decimals) : std::string();
}

// ddmm.mmN / dddmm.mmE, rounded to the hundredth of a minute.
std::string AprsAngle(double degrees, int degreeDigits, char positive, char negative) {
  const long hundredths = std::lround(std::fabs(degrees) * 6000.0);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*ld%02ld.%02ld%c", degreeDigits, hundredths / 6000, (hundredths % 6000) / 100,
                hundredths % 100, degrees < 0 ? negative : positive);
  return buf;
}

// A field of the weather report: the letter and a fixed number of digits, or
// dots for a value that is not known.
std::string AprsField(const std::optional<double>& v, int digits) {
  if (!v) return std::string(size_t(digits), '.');
  const long n = std::lround(*v);
  const long top = digits == 3 ? 999 : digits == 4 ? 9999 : 99999;
  char buf[16];
  if (n < 0)
    std::snprintf(buf, sizeof buf, "-%0*ld", digits - 1, std::min(-n, digits == 3 ? 99L : 999L));
  else
    std::snprintf(buf, sizeof buf, "%0*ld", digits, std::min(n, top));
  return buf;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

}  // namespace

bool UploadValues::Empty() const {
  for (const auto* v : {&temperatureC, &humidityPercent, &dewPointC, &seaLevelHpa, &altimeterHpa, &windKmh, &gustKmh,
                        &directionDeg, &rainHourMm, &rainTodayMm, &rain24hMm, &rainRateMmPerHour})
    if (*v) return false;
  return true;
}

UploadValues PlausibleValues(const WeatherValues& w) {
  UploadValues v;
  v.temperatureC = Within(w.temperatureC, -90, 65);
  v.humidityPercent = Within(w.humidityPercent, 0, 100);
  v.dewPointC = Within(w.dewPointC, -90, 65);
  v.seaLevelHpa = Within(w.seaLevelPressureHpa, 850, 1100);
  v.altimeterHpa = Within(w.altimeterHpa, 850, 1100);
  // The network's wind speed is the sustained one where it is known.
  v.windKmh = Within(w.windAverage2Kmh ? w.windAverage2Kmh : w.windSpeedKmh, 0, 400);
  v.gustKmh = Within(w.gustKmh, 0, 400);
  v.directionDeg = Within(w.windDirectionDeg, 0, 360);
  v.rainHourMm = Within(w.rainLastHourMm, 0, 500);
  v.rainTodayMm = Within(w.rainTodayMm, 0, 2000);
  v.rain24hMm = Within(w.rain24hMm, 0, 2000);
  v.rainRateMmPerHour = Within(w.rainRateMmPerHour, 0, 2000);
  return v;
}

std::string UploadUrl(const UploadTarget& t, const UploadValues& v, std::time_t utc, const std::string& version) {
  Query q;
  const std::string software = "WX118 " + version;
  switch (t.network) {
    case Network::WUnderground:
    case Network::PWSweather:
    case Network::Wow: {
      // One protocol; the Met Office names the station and key its own way.
      const bool wow = t.network == Network::Wow;
      q.Add(wow ? "siteid" : "ID", t.stationId);
      q.Add(wow ? "siteAuthenticationKey" : "PASSWORD", t.password);
      if (!wow) q.Add("action", "updateraw");
      q.Add("dateutc", TimeText(utc, "%Y-%m-%d %H:%M:%S"));
      AddUndergroundFields(q, v);
      q.Add("softwaretype", software);
      break;
    }
    case Network::Windy:
      // Metric, with wind in m/s and pressure in pascals.
      q.Add("id", t.stationId);
      q.Add("PASSWORD", t.password);
      q.Add("time", TimeText(utc, "%Y-%m-%dT%H:%M:%SZ"));
      q.Add("temp", v.temperatureC, Identity, 1);
      q.Add("humidity", v.humidityPercent, Identity, 0);
      q.Add("dewpoint", v.dewPointC, Identity, 1);
      q.Add("pressure", v.seaLevelHpa, Pascals, 0);
      q.Add("wind", v.windKmh, MetresPerSecond, 1);
      q.Add("gust", v.gustKmh, MetresPerSecond, 1);
      q.Add("winddir", v.directionDeg, WholeDirection, 0);
      q.Add("precip", v.rainHourMm, Identity, 1);
      break;
    case Network::Awekas: {
      // One value of fixed meaning per position; an unknown one stays empty.
      const std::string fields[] = {t.stationId,
                                    Md5Hex(t.password),
                                    TimeText(utc, "%d.%m.%Y"),
                                    TimeText(utc, "%H:%M"),
                                    AwekasField(v.temperatureC, 1),
                                    AwekasField(v.humidityPercent, 0),
                                    AwekasField(v.seaLevelHpa, 1),
                                    AwekasField(v.rainTodayMm, 1),
                                    AwekasField(v.windKmh, 1),
                                    v.directionDeg ? Whole(WholeDirection(*v.directionDeg)) : std::string(),
                                    "",
                                    "",
                                    "",
                                    "en",
                                    "",
                                    AwekasField(v.gustKmh, 1),
                                    "",
                                    "",
                                    "",
                                    "",
                                    "",
                                    AwekasField(v.rainRateMmPerHour, 1),
                                    "WX118_" + version};
      std::string val;
      for (const std::string& f : fields) val += PercentEncode(f) + ";";
      return t.url + "?val=" + val;
    }
    case Network::Cwop:
      return "";
  }
  return t.url + q.text();
}

std::string AprsLogin(const UploadTarget& t, const std::string& version) {
  return "user " + t.stationId + " pass " + (t.password.empty() ? "-1" : t.password) + " vers WX118 " + version +
         "\r\n";
}

std::optional<std::string> AprsWeatherPacket(const UploadTarget& t, std::optional<double> latitude,
                                             std::optional<double> longitude, const UploadValues& v, std::time_t utc) {
  if (!latitude || !longitude || std::fabs(*latitude) > 90 || std::fabs(*longitude) > 180) return std::nullopt;
  // North is 360: 000 reads as calm or unknown.
  std::optional<double> direction;
  if (v.directionDeg) direction = WholeDirection(*v.directionDeg) == 0 ? 360 : WholeDirection(*v.directionDeg);
  auto mph = [](const std::optional<double>& kmh) { return kmh ? std::optional(Mph(*kmh)) : std::nullopt; };
  auto hundredths = [](const std::optional<double>& mm) {
    return mm ? std::optional(Inches(*mm) * 100.0) : std::nullopt;
  };
  std::string p = t.stationId + ">APRS,TCPIP*:@" + TimeText(utc, "%d%H%Mz") + AprsAngle(*latitude, 2, 'N', 'S') + "/" +
                  AprsAngle(*longitude, 3, 'E', 'W') + "_" + AprsField(direction, 3) + "/" +
                  AprsField(mph(v.windKmh), 3) + "g" + AprsField(mph(v.gustKmh), 3) + "t" +
                  AprsField(v.temperatureC ? std::optional(Fahrenheit(*v.temperatureC)) : std::nullopt, 3);
  if (v.rainHourMm) p += "r" + AprsField(hundredths(v.rainHourMm), 3);
  if (v.rain24hMm) p += "p" + AprsField(hundredths(v.rain24hMm), 3);
  if (v.rainTodayMm) p += "P" + AprsField(hundredths(v.rainTodayMm), 3);
  if (v.humidityPercent && std::lround(*v.humidityPercent) >= 1)
    p += "h" + (std::lround(*v.humidityPercent) >= 100 ? std::string("00") : AprsField(v.humidityPercent, 2));
  if (v.altimeterHpa) p += "b" + AprsField(*v.altimeterHpa * 10.0, 5);
  return p + "WX118\r\n";
}

ReplyVerdict JudgeHttpReply(const UploadTarget& t, long status, std::string_view body) {
  ReplyVerdict r;
  const std::string text = CleanServerText(body, t);
  const std::string lower = Lower(text);
  const bool httpOk = status >= 200 && status < 300;
  switch (t.network) {
    case Network::WUnderground:
      r.ok = httpOk && lower.rfind("success", 0) == 0;
      break;
    case Network::PWSweather:
      r.ok = httpOk && lower.find("error") == std::string::npos && lower.find("invalid") == std::string::npos;
      break;
    case Network::Awekas:
      r.ok = httpOk && lower.rfind("ok", 0) == 0;
      break;
    default:
      r.ok = httpOk;
      break;
  }
  if (r.ok) return r;
  r.detail = httpOk ? "it answered \"" + text + "\""
                    : "HTTP status " + std::to_string(status) + (text.empty() ? "" : ": \"" + text + "\"");
  return r;
}

LoginAnswer JudgeAprsLine(std::string_view line) {
  constexpr std::string_view kLogresp = "# logresp ";
  if (line.substr(0, kLogresp.size()) != kLogresp) return LoginAnswer::NotYet;
  // "# logresp CALL verified, server T2XX" or "... unverified, ..." (CWOP's
  // pass -1); anything else ("invalid") is a refusal.
  const std::string rest = Lower(line.substr(kLogresp.size()));
  const size_t space = rest.find(' ');
  if (space == std::string::npos) return LoginAnswer::Refused;
  const std::string word = rest.substr(space + 1, rest.find_first_of(", ", space + 1) - space - 1);
  return word == "verified" || word == "unverified" ? LoginAnswer::Accepted : LoginAnswer::Refused;
}

std::string CleanServerText(std::string_view text, const UploadTarget& t) {
  std::string s;
  for (unsigned char c : text) {
    const bool printable = c >= 0x20 && c != 0x7f;
    if (!printable && (s.empty() || s.back() == ' ')) continue;
    s += printable ? static_cast<char>(c) : ' ';
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (!t.password.empty()) {
    for (const std::string& secret : {t.password, Md5Hex(t.password)}) {
      for (size_t at; (at = s.find(secret)) != std::string::npos;) s.replace(at, secret.size(), "****");
    }
  }
  constexpr size_t kMax = 160;
  if (s.size() > kMax) {
    s.resize(kMax);
    while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();  // whole characters
    if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
    s += "...";
  }
  return s;
}

std::string Md5Hex(std::string_view text) {
  return QCryptographicHash::hash(QByteArray(text.data(), qsizetype(text.size())), QCryptographicHash::Md5)
      .toHex()
      .toStdString();
}

}  // namespace wx
