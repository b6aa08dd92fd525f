// SPDX-License-Identifier: GPL-2.0-or-later
// The [MQTT] section reader and the texts that go over MQTT. The broker
// itself is exercised by tests/e2e/mqtt_broker.sh.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include "datalog/stamps.h"
#include "mqtt/mqtt_messages.h"
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_settings.h"
#include "platform/text_encoding.h"
#include "support/fakes.h"

namespace wx {
namespace {

QJsonObject Json(const std::string& text) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  return doc.object();
}

StationConfig Station() {
  StationConfig s;
  s.sensorEnabled[0] = s.sensorEnabled[5] = s.sensorEnabled[6] = s.sensorEnabled[10] = true;
  s.sensorIdText[0] = "7A000801B2C3D410";
  s.sensorIdText[5] = s.sensorIdText[6] = "3B0000001234561D";
  s.sensorIdText[10] = "2A00000098765420";
  return s;
}

TEST(MqttSettings, SectionAbsentOffFaultyValuesFallBackPasswordFromFile) {
  test::TempDir dir;
  const PathMapper paths(dir.path());
  std::vector<std::string> problems;
  const StationConfig station = Station();
  EXPECT_FALSE(ReadMqttSettings(ProfileFile::FromText("abWX118ini2\n[swg]\nwgp=/x\n"), station, paths, problems));

  auto s = ReadMqttSettings(ProfileFile::FromText("[mqtt]\n"), station, paths, problems);
  ASSERT_TRUE(s);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(s->host, "localhost");
  EXPECT_EQ(s->port, 1883);
  EXPECT_EQ(s->prefix, "wx118/7a000801b2c3d410");  // the first enabled chip names the station
  EXPECT_EQ(s->clientId, "wx118-7a000801b2c3d410");
  EXPECT_TRUE(s->retain && s->discovery);

  dir.Write("c/ca.pem", "-----BEGIN CERTIFICATE-----\n");
  s = ReadMqttSettings(ProfileFile::FromText("[MQTT]\nPort=70000\nRetain=maybe\nPrefix=a/#\nCertFile=c.pem\n"
                                             "CAFile=C:\\ca.pem\nDiscovery=0\n"),
                       station, paths, problems);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->port, 8883);  // the TLS default
  EXPECT_TRUE(s->retain);
  EXPECT_FALSE(s->discovery);
  EXPECT_EQ(s->prefix, "wx118/7a000801b2c3d410");
  EXPECT_TRUE(s->certFile.empty());  // a certificate without its key is not used
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_NE(problems[0].find("KeyFile"), std::string::npos);
  EXPECT_NE(problems[1].find("Port=70000"), std::string::npos);

  problems.clear();
  dir.Write("c/pw.txt", "s3cret\r\nsecond line\r\n");
  s = ReadMqttSettings(ProfileFile::FromText("[MQTT]\nUser=wx\nPasswordFile=C:\\pw.txt\nPrefix=home/wx/\n"),
                       station, paths, problems);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->password, "s3cret");
  EXPECT_EQ(s->prefix, "home/wx");
  EXPECT_FALSE(ReadMqttSettings(ProfileFile::FromText("[MQTT]\nPasswordFile=C:\\none.txt\n"), station, paths,
                                problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("cannot be read (it does not exist)"), std::string::npos);

  // No file or far too large: refused at once, with the reason.
  ASSERT_EQ(::mkfifo((dir.path() / "c" / "fifo").c_str(), 0600), 0);
  std::filesystem::resize_file(dir.Write("c/huge.pem", ""), 200u << 20);  // sparse
  const std::pair<std::string, std::string> refused[] = {
      {"PasswordFile=C:\\fifo", "(it is a FIFO, not a regular file)"},
      {"PasswordFile=/dev/zero", "(it is a device, not a regular file)"},
      {"CAFile=C:\\huge.pem", "(it is longer than"},
      {"CAFile=C:\\ca.pem\nCertFile=C:\\ca.pem\nKeyFile=C:\\",
       "KeyFile=C:\\: the file cannot be read (it is a folder"}};
  for (const auto& [line, reason] : refused) {
    problems.clear();
    EXPECT_FALSE(ReadMqttSettings(ProfileFile::FromText("[MQTT]\n" + line + "\n"), station, paths, problems)) << line;
    ASSERT_EQ(problems.size(), 1u) << line;
    EXPECT_NE(problems[0].find(reason), std::string::npos) << problems[0];
  }
}

TEST(MqttPublisher, AClientIdTheLibraryRefusesIsNamedAsTheReason) {
  MqttSettings mqtt;
  mqtt.clientId = "wx\x7f" "118";
  const Settings settings;
  test::RecordingErrors errors;
  MqttPublisher(mqtt, settings, errors).Start();
  EXPECT_EQ(errors.errors, std::vector<std::string>{"MQTT: the client could not be created (ClientId in the [MQTT] section of WX118ini2.txt "
                              "holds a control character or is not UTF-8); nothing is published."});
}

TEST(MqttMessages, StatePayloadsAreJsonWithStampRawPhysicalAndCompass) {
  const Reading t{0, *EncodeDateTime(2026, 12, 7, 14, 5, 32), "26l07o05", 21.5};
  QJsonObject o = Json(StatePayload(t, 9, std::nullopt));
  EXPECT_EQ(o["stamp"].toString(), "26l07o05");
  EXPECT_EQ(o["time"].toString().toStdString(), IsoLocalTime(t.when));  // with its UTC offset
  EXPECT_DOUBLE_EQ(o["raw"].toDouble(), 21.5);
  // Values as the log holds them, not a float's or a product's last digits.
  const std::string rounded = StatePayload(Reading{0, t.when, t.stamp, double(21.3f)}, 9, PhysicalValue{98.39999999999999, "%"});
  EXPECT_NE(rounded.find("\"raw\":21.3,\"value\":98.4,"), std::string::npos) << rounded;
  EXPECT_FALSE(o.contains("value"));

  o = Json(StatePayload(t, 9, PhysicalValue{70.7, "°F"}));
  EXPECT_DOUBLE_EQ(o["value"].toDouble(), 70.7);
  EXPECT_EQ(o["unit"].toString(), QString::fromUtf8("°F"));

  // The vane's index is turned by the offset, as the windows show it; north
  // without the window's padding, as current.json gives it.
  o = Json(StatePayload(Reading{10, t.when, t.stamp, 3, true}, 9, std::nullopt));
  EXPECT_EQ(o["compass"].toString().toStdString(), CompassPoint(3, 9));
  EXPECT_DOUBLE_EQ(o["degrees"].toDouble(), 12 * 22.5);
  o = Json(StatePayload(Reading{10, t.when, t.stamp, 7}, 9, std::nullopt));
  EXPECT_EQ(o["compass"].toString(), "N");
  EXPECT_DOUBLE_EQ(o["degrees"].toDouble(), 0);
  o = Json(StatePayload(Reading{10, t.when, t.stamp, 16}, 9, std::nullopt));
  EXPECT_TRUE(o["degrees"].isNull());
  EXPECT_EQ(MqttSlot(Reading{10, 0, "", 3, true}), kWindAverageSlot);
}

TEST(MqttMessages, DiscoveryConfigsNameTheChipUnitAndClass) {
  Settings settings;
  settings.station = Station();
  SetDefaultChannelLabels(settings.plot);
  settings.plot.channelLabel[0] = "Out\"side ";
  std::vector<std::string> problems;
  const PathMapper paths("/nonexistent");
  const MqttSettings s = *ReadMqttSettings(ProfileFile::FromText("[MQTT]\n"), settings.station, paths, problems);

  auto [topic, payload] = DiscoveryConfig(s, settings, 0, std::nullopt);
  EXPECT_EQ(topic, "homeassistant/sensor/wx118_7a000801b2c3d410_t0/config");
  QJsonObject o = Json(payload);
  EXPECT_EQ(o["name"].toString(), "Out\"side");
  EXPECT_EQ(o["unique_id"].toString(), "wx118_7a000801b2c3d410_t0");
  EXPECT_EQ(o["state_topic"].toString(), "wx118/7a000801b2c3d410/T0");
  EXPECT_EQ(o["availability_topic"].toString(), "wx118/7a000801b2c3d410/status");
  EXPECT_EQ(o["device_class"].toString(), "temperature");
  EXPECT_EQ(o["unit_of_measurement"].toString(), QString::fromUtf8("°C"));
  EXPECT_EQ(o["device"].toObject()["sw_version"].toString(), kVersionText);
  EXPECT_EQ(o["device"].toObject()["identifiers"].toArray()[0].toString(), "wx118_7a000801b2c3d410");

  // Rain and wind speed share a counter chip and still differ.
  const QJsonObject rain = Json(DiscoveryConfig(s, settings, 5, std::nullopt).second);
  const QJsonObject ws = Json(DiscoveryConfig(s, settings, 6, "km").second);
  EXPECT_NE(rain["unique_id"], ws["unique_id"]);
  EXPECT_EQ(rain["state_class"].toString(), "total_increasing");
  EXPECT_FALSE(rain.contains("unit_of_measurement"));
  EXPECT_EQ(ws["value_template"].toString(), "{{ value_json.value }}");
  EXPECT_EQ(ws["unit_of_measurement"].toString(), "km");
  EXPECT_EQ(ws["device_class"].toString(), "distance");  // the counter gives a run of wind
  EXPECT_EQ(ws["state_class"].toString(), "total_increasing");
  // A unit the consumer does not know for the class gets no class.
  EXPECT_FALSE(Json(DiscoveryConfig(s, settings, 5, "buckets").second).contains("device_class"));

  const QJsonObject average = Json(DiscoveryConfig(s, settings, kWindAverageSlot, std::nullopt).second);
  EXPECT_EQ(average["state_topic"].toString(), "wx118/7a000801b2c3d410/wind_direction_average");
  EXPECT_EQ(average["value_template"].toString(), "{{ value_json.degrees }}");

  EXPECT_EQ(o["default_entity_id"].toString(), "sensor.wx118_7a000801b2c3d410_t0");
  EXPECT_FALSE(o.contains("object_id"));

  // The derived weather: the classes and units the consumer expects.
  MqttSettings named = s;
  named.deviceName = "Hill Farm";
  auto weather = [&](std::string_view key) {
    for (const WeatherField& f : kWeatherFields)
      if (f.key == key) return Json(WeatherDiscoveryConfig(named, f).second);
    return QJsonObject();
  };
  EXPECT_EQ(weather("wind_direction")["state_class"].toString(), "measurement_angle");
  EXPECT_EQ(weather("wind_direction")["device_class"].toString(), "wind_direction");
  EXPECT_EQ(weather("rain_today")["state_class"].toString(), "total_increasing");
  EXPECT_EQ(weather("rain_rate")["device_class"].toString(), "precipitation_intensity");
  EXPECT_EQ(weather("rain_rate")["unit_of_measurement"].toString(), "mm/h");
  EXPECT_EQ(weather("wind_gust")["device_class"].toString(), "wind_speed");
  EXPECT_EQ(weather("sea_level_pressure")["device_class"].toString(), "atmospheric_pressure");
  EXPECT_EQ(weather("dew_point")["device_class"].toString(), "temperature");
  EXPECT_EQ(weather("dew_point")["state_topic"].toString(), "wx118/7a000801b2c3d410/weather/dew_point");
  EXPECT_EQ(weather("humidex")["device"].toObject()["name"].toString(), "Hill Farm");
  EXPECT_FALSE(weather("humidex").contains("unit_of_measurement"));
  WeatherValues v;
  v.when = *EncodeDateTime(2026, 12, 7, 14, 5);
  v.peakGustToday = TimedValue{31.649, v.when};
  const std::string gust = WeatherPayload(v, kWeatherFields[12]);
  EXPECT_EQ(gust.substr(0, gust.find(",\"time")), "{\"value\":31.6,\"unit\":\"km/h\"") << gust;
  EXPECT_EQ(WeatherPayload(v, kWeatherFields[0]).substr(0, 13), "{\"value\":null");

  // A label and a prefix saved in Latin-1 reach the consumer as UTF-8 (or it drops the entity).
  settings.plot.channelLabel[0] = "Temp. \xE9t\xE9 \x80";
  const MqttSettings latin = *ReadMqttSettings(
      ProfileFile::FromText("[MQTT]\nPrefix=m\xE9t\xE9o\nDiscoveryPrefix=h\xF4te\n"), settings.station, paths,
      problems);
  std::tie(topic, payload) = DiscoveryConfig(latin, settings, 0, std::nullopt);
  EXPECT_EQ(topic, "hôte/sensor/wx118_7a000801b2c3d410_t0/config");
  o = Json(payload);
  EXPECT_EQ(o["name"].toString(), QString::fromUtf8("Temp. été €"));
  EXPECT_EQ(o["state_topic"].toString(), QString::fromUtf8("météo/T0"));
  EXPECT_EQ(StateTopic(latin, 0), "météo/T0");
}

}  // namespace
}  // namespace wx
