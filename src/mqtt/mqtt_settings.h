// SPDX-License-Identifier: GPL-2.0-or-later
// The optional [MQTT] section of the secondary file: where the readings go,
// how the program logs in, and what it publishes.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace wx {

struct MqttSettings {
  std::string host = "localhost";
  int port = 1883;
  std::string clientId;         // default wx118-<station>
  std::string user;             // empty: no login
  std::string password;         // read from the password file at start
  std::string caFile;           // set: TLS
  std::string certFile, keyFile;  // client certificate (TLS only)
  std::string prefix;           // default wx118/<station>
  std::string discoveryPrefix = "homeassistant";
  bool retain = true;
  bool discovery = true;
  int keepalive = 60;
  std::string station;          // id text of the station's first chip, lower case
  std::string deviceName;       // what the consumer calls the device: [Station] Name, else "WX118 <station>"
};

// nullopt when the section is absent: MQTT stays off. Each faulty value is
// described in `problems` and replaced by its default; a password file that
// cannot be read also turns MQTT off (nullopt).
std::optional<MqttSettings> ReadMqttSettings(const ProfileFile& ini, const StationConfig& station,
                                             const PathMapper& paths, std::vector<std::string>& problems);

}  // namespace wx
