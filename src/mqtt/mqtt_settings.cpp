// SPDX-License-Identifier: GPL-2.0-or-later
#include "mqtt/mqtt_settings.h"

#include <algorithm>
#include <cctype>

#include "platform/file_checks.h"
#include "platform/text_encoding.h"

namespace wx {
namespace {

constexpr const char* kSection = "MQTT";
// A password is one short line; a certificate bundle a few hundred kilobytes.
constexpr size_t kMaxPasswordFileBytes = 64 * 1024;
constexpr size_t kMaxTlsFileBytes = 4 * 1024 * 1024;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// The profile reader keeps absent and present keys apart only through the
// default, so presence is asked first.
bool Has(const ProfileFile& ini, const char* key) { return ini.HasKey(kSection, key); }
std::string Str(const ProfileFile& ini, const char* key, const std::string& def) {
  return ini.ReadString(kSection, key, def);
}

bool ReadFlag(const ProfileFile& ini, const char* key, bool def, std::vector<std::string>& problems) {
  if (!Has(ini, key)) return def;
  const std::string v = Lower(Str(ini, key, ""));
  if (v == "1" || v == "on" || v == "yes" || v == "true") return true;
  if (v == "0" || v == "off" || v == "no" || v == "false") return false;
  problems.push_back(std::string("In WX118ini2.txt, [MQTT] ") + key + "=" + v +
                     " is not 1 or 0; " + (def ? "1" : "0") + " is used.");
  return def;
}

int ReadRange(const ProfileFile& ini, const char* key, int def, int low, int high,
              std::vector<std::string>& problems) {
  if (!Has(ini, key)) return def;
  const std::string text = Str(ini, key, "");
  const auto v = ParseProfileInt(text);
  if (v && *v >= low && *v <= high) return *v;
  problems.push_back(std::string("In WX118ini2.txt, [MQTT] ") + key + "=" + text + " is not a number in " +
                     std::to_string(low) + ".." + std::to_string(high) + "; " + std::to_string(def) +
                     " is used.");
  return def;
}

std::string StationOf(const StationConfig& station) {
  for (int ch = 0; ch < kChannels; ++ch)
    if (station.sensorEnabled[ch] && !station.sensorIdText[ch].empty()) return Lower(station.sensorIdText[ch]);
  return "station";
}

}  // namespace

std::optional<MqttSettings> ReadMqttSettings(const ProfileFile& ini, const StationConfig& station,
                                             const PathMapper& paths, std::vector<std::string>& problems) {
  if (!ini.HasSection(kSection)) return std::nullopt;
  MqttSettings s;
  s.station = StationOf(station);
  s.host = Str(ini, "Host", "");
  if (s.host.empty()) s.host = "localhost";
  s.caFile = Str(ini, "CAFile", "");
  s.certFile = Str(ini, "CertFile", "");
  s.keyFile = Str(ini, "KeyFile", "");
  const std::string given[] = {s.caFile, s.certFile, s.keyFile};
  for (std::string* file : {&s.caFile, &s.certFile, &s.keyFile})
    if (!file->empty()) *file = paths.Map(*file).string();
  if (s.caFile.empty() && !s.certFile.empty()) {
    problems.push_back("In WX118ini2.txt, [MQTT] CertFile needs CAFile (the client certificate is for TLS); "
                       "it is not used.");
    s.certFile.clear();
    s.keyFile.clear();
  }
  if (s.certFile.empty() != s.keyFile.empty()) {
    problems.push_back("In WX118ini2.txt, [MQTT] CertFile and KeyFile go together; neither is used.");
    s.certFile.clear();
    s.keyFile.clear();
  }
  // The TLS library opens these by name, waiting on a FIFO and reading a
  // device without end: each is checked first, as the program's own files are.
  const std::string* used[] = {&s.caFile, &s.certFile, &s.keyFile};
  const char* keys[] = {"CAFile", "CertFile", "KeyFile"};
  for (int i = 0; i < 3; ++i) {
    if (used[i]->empty()) continue;
    const std::string reason = UnreadableFileReason(*used[i], kMaxTlsFileBytes);
    if (reason.empty()) continue;
    problems.push_back(std::string("In WX118ini2.txt, [MQTT] ") + keys[i] + "=" + given[i] +
                       ": the file cannot be read (" + reason + "), so nothing is published to MQTT.");
    return std::nullopt;
  }
  s.port = ReadRange(ini, "Port", s.caFile.empty() ? 1883 : 8883, 1, 65535, problems);
  s.keepalive = ReadRange(ini, "KeepAlive", 60, 5, 3600, problems);
  // Client id and topics travel as UTF-8; a broker refuses other bytes.
  s.clientId = ToUtf8(Str(ini, "ClientId", ""));
  if (s.clientId.empty()) s.clientId = "wx118-" + s.station;
  s.user = Str(ini, "User", "");
  s.prefix = ToUtf8(Str(ini, "Prefix", ""));
  while (!s.prefix.empty() && s.prefix.back() == '/') s.prefix.pop_back();
  if (s.prefix.empty()) s.prefix = "wx118/" + s.station;
  if (s.prefix.find_first_of("+#") != std::string::npos) {
    problems.push_back("In WX118ini2.txt, [MQTT] Prefix=" + s.prefix +
                       " holds a wildcard (+ or #), which a topic may not; wx118/" + s.station + " is used.");
    s.prefix = "wx118/" + s.station;
  }
  s.discoveryPrefix = ToUtf8(Str(ini, "DiscoveryPrefix", "homeassistant"));
  if (s.discoveryPrefix.empty()) s.discoveryPrefix = "homeassistant";
  s.retain = ReadFlag(ini, "Retain", true, problems);
  s.discovery = ReadFlag(ini, "Discovery", true, problems);

  const std::string passwordFile = Str(ini, "PasswordFile", "");
  if (!passwordFile.empty()) {
    const FileText file = ReadWholeFile(paths.Map(passwordFile), kMaxPasswordFileBytes);
    const std::string reason = !file.ok ? file.reason : file.text.empty() ? "it is empty" : "";
    if (!reason.empty()) {
      problems.push_back("In WX118ini2.txt, [MQTT] PasswordFile=" + passwordFile + ": the file cannot be read (" +
                         reason + "), so nothing is published to MQTT.");
      return std::nullopt;
    }
    // The first line is the password.
    s.password = file.text.substr(0, file.text.find_first_of("\r\n"));
  }
  return s;
}

}  // namespace wx
