// SPDX-License-Identifier: GPL-2.0-or-later
// The sections of the secondary file that send the weather to the networks:
// [WUnderground], [PWSweather], [WOW], [Windy], [AWEKAS] and [CWOP], each off
// unless present.
#pragma once
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/profile.h"

namespace wx {

enum class Network { WUnderground, PWSweather, Wow, Windy, Awekas, Cwop };

// The section's name, as in the secondary file.
const char* SectionOf(Network network);
// The name a person knows the network by, for messages.
const char* NameOf(Network network);
// The shortest interval the network accepts, in seconds.
int MinimumIntervalOf(Network network);

struct UploadTarget {
  Network network = Network::WUnderground;
  std::string stationId;  // the station's id at the network; CWOP: the callsign, upper case
  std::string password;   // from the password file; CWOP: the APRS-IS passcode or empty
  int intervalSeconds = 300;
  std::string url;   // the HTTP networks
  std::string host;  // CWOP
  int port = 0;      // CWOP
};

// The networks the file asks for, in the order above. Each faulty value is
// described in `problems`; one that leaves a network unusable (no station id,
// a password file that cannot be read, a Url that is no http(s) address)
// turns that network off rather than sending somewhere unintended.
std::vector<UploadTarget> ReadUploadSettings(const ProfileFile& ini, const PathMapper& paths,
                                             std::vector<std::string>& problems);

}  // namespace wx
