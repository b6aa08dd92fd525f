// SPDX-License-Identifier: GPL-2.0-or-later
#include "mqtt/mqtt_messages.h"

#include <charconv>
#include <cstdio>

#include "channels/channel_table.h"
#include "platform/text_encoding.h"

namespace wx {
namespace {

std::string Number(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
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
  const DateTimeParts p = DecodeDateTime(r.when);
  char time[32];
  std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  std::string out = "{\"stamp\":" + JsonString(r.stamp) + ",\"time\":\"" + time + "\",\"raw\":" + Number(r.raw);
  if (physical) out += ",\"value\":" + Number(physical->value) + ",\"unit\":" + JsonString(physical->unit);
  if (r.channel == 10) {
    const int index = int(r.raw);
    if (index >= 0 && index < 16) {
      out += ",\"compass\":" + JsonString(CompassPoint(index, windOffset)) +
             ",\"degrees\":" + Number(CompassDegrees(index, windOffset));
    } else {
      out += ",\"compass\":\"???\",\"degrees\":null";
    }
  }
  return out + "}";
}

std::pair<std::string, std::string> DiscoveryConfig(const MqttSettings& s, const Settings& settings, int slot,
                                                    const std::optional<std::string>& unit) {
  std::string uid = "wx118_" + IdOf(settings, slot) + "_" + MqttSlotKey(slot);
  for (char& c : uid) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
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
                    ",\"object_id\":" + JsonString(uid) + ",\"state_topic\":" + JsonString(StateTopic(s, slot)) +
                    ",\"value_template\":" + JsonString(value) + ",\"json_attributes_topic\":" +
                    JsonString(StateTopic(s, slot));
  if (!uom.empty()) out += ",\"unit_of_measurement\":" + JsonString(uom);
  if (!deviceClass.empty()) out += ",\"device_class\":" + JsonString(deviceClass);
  if (!stateClass.empty()) out += ",\"state_class\":" + JsonString(stateClass);
  out += ",\"availability_topic\":" + JsonString(AvailabilityTopic(s)) +
         ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"";
  out += ",\"device\":{\"identifiers\":[" + JsonString("wx118_" + s.station) + "],\"name\":" +
         JsonString("WX118 " + s.station) + ",\"model\":\"WX118\",\"sw_version\":" + JsonString(kVersionText) +
         "}";
  out += ",\"origin\":{\"name\":\"WX118\",\"sw_version\":" + JsonString(kVersionText) + "}}";
  // A topic must be UTF-8 as much as the payload.
  return {ToUtf8(s.discoveryPrefix + "/sensor/" + uid + "/config"), out};
}

}  // namespace wx
