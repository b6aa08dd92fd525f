// SPDX-License-Identifier: GPL-2.0-or-later
// What each network is sent, made from a snapshot of the weather: the units,
// the field names and formats of each protocol, and the judging of replies.
// Pure functions, so that every format is checked without a network.
#pragma once
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "upload/upload_settings.h"
#include "weather/weather_values.h"

namespace wx {

// The values an upload may carry, each empty when unknown or outside what
// the weather can be (a sensor fault is left out, never sent).
struct UploadValues {
  std::optional<double> temperatureC, humidityPercent, dewPointC;
  std::optional<double> seaLevelHpa, altimeterHpa;
  std::optional<double> windKmh, gustKmh, directionDeg;
  std::optional<double> rainHourMm, rainTodayMm, rain24hMm, rainRateMmPerHour;
  bool Empty() const;
};
UploadValues PlausibleValues(const WeatherValues& weather);

// The whole address of an HTTP upload: the target's Url with the query.
// `version` names this program in the networks' software field.
std::string UploadUrl(const UploadTarget& target, const UploadValues& v, std::time_t utc, const std::string& version);

// CWOP over APRS-IS: the login line and the weather report (position from
// the [Station] section), each ending in CR LF. nullopt without a position.
std::string AprsLogin(const UploadTarget& target, const std::string& version);
std::optional<std::string> AprsWeatherPacket(const UploadTarget& target, std::optional<double> latitude,
                                             std::optional<double> longitude, const UploadValues& v, std::time_t utc);

// Whether an HTTP reply means the network took the upload; `detail` is the
// reason for a refusal, one printable line without the secret.
struct ReplyVerdict {
  bool ok = false;
  std::string detail;
};
ReplyVerdict JudgeHttpReply(const UploadTarget& target, long status, std::string_view body);

// A line from the APRS-IS server after the login.
enum class LoginAnswer { NotYet, Accepted, Refused };
LoginAnswer JudgeAprsLine(std::string_view line);

// Text from a server, made fit for one line of the error log: printable,
// short, and without the secret (or the digest AWEKAS is sent).
std::string CleanServerText(std::string_view text, const UploadTarget& target);

std::string Md5Hex(std::string_view text);

}  // namespace wx
