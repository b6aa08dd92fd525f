// SPDX-License-Identifier: GPL-2.0-or-later
#include "mqtt/mqtt_messages.h"

#include <charconv>
#include <cstdio>

#include "channels/channel_table.h"
#include "datalog/stamps.h"
#include "platform/text_encoding.h"

namespace wx {
namespace {

// What a consumer is told about the station, the same in every config.
std::string DeviceAndOrigin(const MqttSettings& s) {
  const std::string name = s.deviceName.empty() ? "WX118 " + s.station : s.deviceName;
  return ",\"availability_topic\":" + JsonString(AvailabilityTopic(s)) +
         ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"" +
         ",\"device\":{\"identifiers\":[" + JsonString("wx118_" + s.station) + "],\"name\":" + JsonString(name) +
         ",\"model\":\"WX118\",\"sw_version\":" + JsonString(kVersionText) + "}" +
         ",\"origin\":{\"name\":\"WX118\",\"sw_version\":" + JsonString(kVersionText) + "}}";
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return text;
}

// A plain English name: the channel's caption, temperatures saying what they are.
std::string PlainName(int slot) {
  if (slot == kWindAverageSlot) return "Wind direction average";
  const ChannelInfo& info = Channel(slot);
  return (info.kind == ChannelKind::Temperature ? "Temperature " : "") + std::string(info.displayName);
}

// The user's own caption from [FieldLabels] when it differs from the
// built-in short one, else a plain English name.
std::string EntityName(const Settings& settings, int slot) {
  if (slot >= kChannels) return PlainName(slot);
  PlotConfig defaults;
  SetDefaultChannelLabels(defaults);
  const std::string_view label = Trim(settings.plot.channelLabel[slot]);
  if (!label.empty() && label != Trim(defaults.channelLabel[slot])) return std::string(label);
  return PlainName(slot);
}

std::string IdOf(const Settings& settings, int slot) {
  const int channel = slot >= kChannels ? 10 : slot;
  std::string id;
  for (char c : settings.station.sensorIdText[channel]) id += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return id;
}

// A device class only where the consumer accepts the unit for it; the
// counters stay totals (the wind counter gives a run of wind, a distance).
std::string PhysicalDeviceClass(int channel, const std::string& unit) {
  auto among = [&](std::initializer_list<const char*> units) {
    for (const char* u : units)
      if (unit == u) return true;
    return false;
  };
  if (IsKind(channel, ChannelKind::Temperature) && among({"°C", "°F"})) return "temperature";
  if (channel == 5 && among({"mm", "cm", "in"})) return "precipitation";
  if (channel == 6 && among({"km", "m", "mi", "ft"})) return "distance";
  if (channel == 8 && among({"hPa", "mbar", "kPa", "Pa", "inHg", "mmHg", "psi", "cbar"}))
    return "atmospheric_pressure";
  if (channel == 9 && unit == "%") return "humidity";
  return "";
}

}  // namespace

std::string MqttSlotKey(int slot) {
  return slot == kWindAverageSlot ? "wind_direction_average" : std::string(Channel(slot).name);
}

std::string AvailabilityTopic(const MqttSettings& s) { return s.prefix + "/status"; }
std::string StateTopic(const MqttSettings& s, int slot) { return s.prefix + "/" + MqttSlotKey(slot); }

std::string StatePayload(const Reading& r, int windOffset, const std::optional<PhysicalValue>& physical) {
  // Temperatures are logged in hundredths, everything else whole.
  const int decimals = IsKind(r.channel, ChannelKind::Temperature) ? 2 : 0;
  std::string out = "{\"stamp\":" + JsonString(r.stamp) + ",\"time\":" + JsonString(IsoLocalTime(r.when)) +
                    ",\"raw\":" + RoundedNumber(r.raw, decimals);
  if (physical)
    out += ",\"value\":" + RoundedNumber(physical->value, 4) + ",\"unit\":" + JsonString(physical->unit);
  if (r.channel == 10) {
    const int index = int(r.raw);
    if (index >= 0 && index < 16) {
      out += ",\"compass\":" + JsonString(CompassPoint(index, windOffset)) +
             ",\"degrees\":" + RoundedNumber(CompassDegrees(index, windOffset), 1);
    } else {
      out += ",\"compass\":\"???\",\"degrees\":null";
    }
  }
  return out + "}";
}

std::pair<std::string, std::string> DiscoveryConfig(const MqttSettings& s, const Settings& settings, int slot,
                                                    const std::optional<std::string>& unit) {
  const std::string uid = Lower("wx118_" + IdOf(settings, slot) + "_" + MqttSlotKey(slot));
  const int channel = slot >= kChannels ? 10 : slot;
  std::string value = "{{ value_json.raw }}";
  std::string deviceClass, stateClass, uom;
  const ChannelKind kind = Channel(channel).kind;
  if (kind == ChannelKind::Temperature) {
    deviceClass = "temperature";
    stateClass = "measurement";
    uom = "°C";
  } else if (kind == ChannelKind::Counter || kind == ChannelKind::OnOff) {
    stateClass = "total_increasing";  // counters only grow (until the chip wraps)
  } else if (kind == ChannelKind::Analog) {
    deviceClass = "voltage";
    stateClass = "measurement";
    uom = "V";
    value = "{{ value_json.raw / 100 }}";
  } else {
    // No device class fits a bearing; a text compass point is in the payload.
    uom = "°";
    value = "{{ value_json.degrees }}";
  }
  if (unit && channel != 10) {
    value = "{{ value_json.value }}";
    uom = *unit;
    deviceClass = PhysicalDeviceClass(channel, uom);
  }
  std::string out = "{\"name\":" + JsonString(EntityName(settings, slot)) + ",\"unique_id\":" + JsonString(uid) +
                    ",\"default_entity_id\":" + JsonString("sensor." + uid) + ",\"state_topic\":" + JsonString(StateTopic(s, slot)) +
                    ",\"value_template\":" + JsonString(value) + ",\"json_attributes_topic\":" +
                    JsonString(StateTopic(s, slot));
  if (!uom.empty()) out += ",\"unit_of_measurement\":" + JsonString(uom);
  if (!deviceClass.empty()) out += ",\"device_class\":" + JsonString(deviceClass);
  if (!stateClass.empty()) out += ",\"state_class\":" + JsonString(stateClass);
  out += DeviceAndOrigin(s);
  // A topic must be UTF-8 as much as the payload.
  return {ToUtf8(s.discoveryPrefix + "/sensor/" + uid + "/config"), out};
}

std::string WeatherStateTopic(const MqttSettings& s, const WeatherField& field) {
  return s.prefix + "/weather/" + std::string(field.key);
}

std::string WeatherPayload(const WeatherValues& v, const WeatherField& field) {
  const std::optional<double> value = field.get(v);
  std::string out = "{\"value\":" + (value ? RoundedNumber(*value, field.decimals) : std::string("null")) +
                    ",\"unit\":" + JsonString(field.unit) + ",\"time\":" + JsonString(IsoLocalTime(v.when));
  if (field.key == "peak_gust_today" && v.peakGustToday) {
    out += ",\"at\":" + JsonString(IsoLocalTime(v.peakGustToday->when)) + ",\"direction\":" +
           (v.peakGustDirectionDeg ? RoundedNumber(*v.peakGustDirectionDeg, 0) : std::string("null"));
  }
  return out + "}";
}

std::pair<std::string, std::string> WeatherDiscoveryConfig(const MqttSettings& s, const WeatherField& field) {
  const std::string uid = Lower("wx118_" + s.station + "_" + std::string(field.key));
  std::string out = "{\"name\":" + JsonString(field.name) + ",\"unique_id\":" + JsonString(uid) +
                    ",\"default_entity_id\":" + JsonString("sensor." + uid) +
                    ",\"state_topic\":" + JsonString(WeatherStateTopic(s, field)) +
                    ",\"value_template\":\"{{ value_json.value }}\",\"json_attributes_topic\":" +
                    JsonString(WeatherStateTopic(s, field));
  if (!field.unit.empty()) out += ",\"unit_of_measurement\":" + JsonString(field.unit);
  if (!field.deviceClass.empty()) out += ",\"device_class\":" + JsonString(field.deviceClass);
  out += ",\"state_class\":" + JsonString(field.stateClass) +
         ",\"suggested_display_precision\":" + std::to_string(field.decimals);
  out += DeviceAndOrigin(s);
  return {ToUtf8(s.discoveryPrefix + "/sensor/" + uid + "/config"), out};
}

}  // namespace wx
