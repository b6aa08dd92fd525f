// SPDX-License-Identifier: GPL-2.0-or-later
#include "upload/upload_settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <cctype>

#include "platform/file_checks.h"

namespace wx {
namespace {

constexpr size_t kMaxPasswordFileBytes = 64 * 1024;
constexpr int kDefaultIntervalSeconds = 300;
constexpr int kMaxIntervalSeconds = 86400;

// What differs between the networks, in the order of Network.
struct NetworkFacts {
  Network network;
  const char* section;     // as in the secondary file
  const char* defaultUrl;  // empty for CWOP, which is not HTTP
  int minimumInterval;     // seconds, as the network asks
};
constexpr NetworkFacts kNetworks[] = {
    {Network::WUnderground, "WUnderground",
     "https://weatherstation.wunderground.com/weatherstation/updateweatherstation.php", 60},
    {Network::PWSweather, "PWSweather", "https://pwsupdate.pwsweather.com/api/v1/submitwx", 60},
    {Network::Wow, "WOW", "https://wow.metoffice.gov.uk/automaticreading", 60},
    {Network::Windy, "Windy", "https://stations.windy.com/api/v2/observation/update", 300},
    {Network::Awekas, "AWEKAS", "http://data.awekas.at/eingabe_pruefung.php", 300},
    {Network::Cwop, "CWOP", "", 300},
};
static_assert(std::size(kNetworks) == 6 && kNetworks[static_cast<size_t>(Network::Cwop)].network == Network::Cwop,
              "one row per network, in its order");
const NetworkFacts& FactsOf(Network network) { return kNetworks[static_cast<size_t>(network)]; }
constexpr const char* kCwopServer = "cwop.aprs.net:14580";

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// An amateur radio callsign or a CWOP id (CW1234, EW0001), with an SSID.
bool IsCallsign(const std::string& call) {
  const size_t dash = call.find('-');
  const std::string base = call.substr(0, dash);
  if (base.size() < 3 || base.size() > 6) return false;
  if (!std::all_of(base.begin(), base.end(), [](unsigned char c) { return std::isalnum(c); })) return false;
  if (dash == std::string::npos) return true;
  const std::string ssid = call.substr(dash + 1);
  return !ssid.empty() && ssid.size() <= 2 &&
         std::all_of(ssid.begin(), ssid.end(), [](unsigned char c) { return std::isalnum(c); });
}

// Another user of the computer could read the secret: said, not refused, as
// the owner may have meant it.
void WarnIfOthersCanRead(const std::string& key, const std::filesystem::path& file,
                         std::vector<std::string>& problems) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return;
  if ((st.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
  problems.push_back("In WX118ini2.txt, " + key +
                     ": other users of this computer can read the file; "
                     "make it private (chmod 600 " +
                     file.string() + ").");
}

}  // namespace

const char* SectionOf(Network network) { return FactsOf(network).section; }

const char* NameOf(Network network) {
  return network == Network::WUnderground ? "Weather Underground" : SectionOf(network);
}

int MinimumIntervalOf(Network network) { return FactsOf(network).minimumInterval; }

std::vector<UploadTarget> ReadUploadSettings(const ProfileFile& ini, const PathMapper& paths,
                                             std::vector<std::string>& problems) {
  std::vector<UploadTarget> targets;
  for (const NetworkFacts& facts : kNetworks) {
    const Network network = facts.network;
    const char* section = facts.section;
    if (!ini.HasSection(section)) continue;
    const std::string where = std::string("In WX118ini2.txt, [") + section + "] ";
    const std::string off = std::string(", so nothing is sent to ") + NameOf(network) + ".";
    auto str = [&](const char* key) { return ini.ReadString(section, key, ""); };
    UploadTarget t;
    t.network = network;
    const bool cwop = network == Network::Cwop;

    const char* idKey = cwop ? "Callsign" : "StationId";
    t.stationId = str(idKey);
    if (cwop) std::transform(t.stationId.begin(), t.stationId.end(), t.stationId.begin(), ::toupper);
    if (t.stationId.empty()) {
      problems.push_back(where + "has no " + idKey + off);
      continue;
    }
    if (cwop && !IsCallsign(t.stationId)) {
      problems.push_back(where + "Callsign=" + t.stationId + " is not a callsign or CWOP id (CW1234)" + off);
      continue;
    }

    const std::string passwordFile = str("PasswordFile");
    if (passwordFile.empty() && !cwop) {
      problems.push_back(where + "has no PasswordFile" + off);
      continue;
    }
    if (!passwordFile.empty()) {
      const std::filesystem::path file = paths.Map(passwordFile);
      const FileText text = ReadWholeFile(file, kMaxPasswordFileBytes);
      t.password = text.ok ? text.text.substr(0, text.text.find_first_of("\r\n")) : "";
      const std::string reason = !text.ok ? text.reason : t.password.empty() ? "its first line is empty" : "";
      if (!reason.empty()) {
        problems.push_back(where + "PasswordFile=" + passwordFile + ": the file cannot be read (" + reason + ")" + off);
        continue;
      }
      WarnIfOthersCanRead(std::string("[") + section + "] PasswordFile=" + passwordFile, file, problems);
    }

    const int minimum = facts.minimumInterval;
    t.intervalSeconds = std::max(kDefaultIntervalSeconds, minimum);
    if (ini.HasKey(section, "Interval")) {
      const std::string text = str("Interval");
      const auto v = ParseProfileInt(text);
      if (!v || *v <= 0 || *v > kMaxIntervalSeconds) {
        problems.push_back(where + "Interval=" + text + " is not a number of seconds up to " +
                           std::to_string(kMaxIntervalSeconds) + "; " + std::to_string(t.intervalSeconds) +
                           " is used.");
      } else if (*v < minimum) {
        problems.push_back(where + "Interval=" + text + " is shorter than " + NameOf(network) + " accepts; " +
                           std::to_string(minimum) + " seconds is used.");
        t.intervalSeconds = minimum;
      } else {
        t.intervalSeconds = *v;
      }
    }

    if (cwop) {
      const std::string server = ini.HasKey(section, "Server") ? str("Server") : kCwopServer;
      const size_t colon = server.rfind(':');
      const auto port = colon == std::string::npos ? std::nullopt : ParseProfileInt(server.substr(colon + 1));
      if (colon == 0 || !port || *port < 1 || *port > 65535) {
        problems.push_back(where + "Server=" + server + " is not HOST:PORT" + off);
        continue;
      }
      t.host = server.substr(0, colon);
      t.port = *port;
    } else {
      t.url = ini.HasKey(section, "Url") ? str("Url") : facts.defaultUrl;
      const bool http = StartsWithNoCase(t.url, "http://") || StartsWithNoCase(t.url, "https://");
      if (!http || t.url.find_first_of(" ?#\"<>\\") != std::string::npos) {
        problems.push_back(where + "Url=" + t.url + " is not an http:// or https:// address without a query" + off);
        continue;
      }
    }
    targets.push_back(std::move(t));
  }
  return targets;
}

}  // namespace wx
