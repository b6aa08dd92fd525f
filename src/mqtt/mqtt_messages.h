// SPDX-License-Identifier: GPL-2.0-or-later
// What goes over MQTT, as text: topic names, the state payload of a reading
// and the Home Assistant discovery config of a channel. No network here.
#pragma once
#include <optional>
#include <string>
#include <utility>

#include "config/settings.h"
#include "config/units.h"
#include "mqtt/mqtt_settings.h"
#include "channels/reading_observer.h"
#include "weather/weather_fields.h"

namespace wx {

// One retained state topic per channel, and one for the wind average.
constexpr int kMqttSlots = kChannels + 1;
constexpr int kWindAverageSlot = kChannels;
inline int MqttSlot(const Reading& r) { return r.channel == 10 && r.average ? kWindAverageSlot : r.channel; }
// The channel names the other new outputs use, and wind_direction_average.
std::string MqttSlotKey(int slot);

std::string AvailabilityTopic(const MqttSettings& s);
std::string StateTopic(const MqttSettings& s, int slot);

// {"stamp":..,"time":..,"raw":..} (the time with its UTC offset, the values
// rounded to what the log holds) plus "value" and "unit" when there is a
// physical value; wind readings add the compass point and its bearing.
std::string StatePayload(const Reading& r, int windOffset, const std::optional<PhysicalValue>& physical);

// Topic and payload of the discovery config for a slot; `unit` is the
// physical unit when the [Units] section gives one.
std::pair<std::string, std::string> DiscoveryConfig(const MqttSettings& s, const Settings& settings, int slot,
                                                    const std::optional<std::string>& unit);

// The derived weather: a retained topic per value under <prefix>/weather/,
// its payload {"value":..,"unit":..,"time":..} (value null while unknown;
// the peak gust adds "at" and "direction"), and its discovery config.
std::string WeatherStateTopic(const MqttSettings& s, const WeatherField& field);
std::string WeatherPayload(const WeatherValues& v, const WeatherField& field);
std::pair<std::string, std::string> WeatherDiscoveryConfig(const MqttSettings& s, const WeatherField& field);

}  // namespace wx
