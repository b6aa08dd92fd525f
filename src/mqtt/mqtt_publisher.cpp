// SPDX-License-Identifier: GPL-2.0-or-later
#include "mqtt/mqtt_publisher.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>

#include "config/secondary_config.h"
#include "datalog/stamps.h"
#include "mqtt/mosquitto_calls.h"
#include "platform/modules.h"

// Defined where the table is linked into the program (the tests); the program
// itself loads the module.
extern "C" __attribute__((weak)) const wx::MosquittoCalls wx118_mosquitto_calls;

namespace wx {
namespace {

constexpr int kStateQos = 0;    // a lost state is replaced by the next one, and all are resent on connect
constexpr int kControlQos = 1;  // availability and discovery must arrive
constexpr int kMaxBackoffSeconds = 30;

// Only called once LoadMosquitto has succeeded.
const MosquittoCalls& Mosq() {
  std::string why;
  return *LoadMosquitto(why);
}

}  // namespace

const MosquittoCalls* LoadMosquitto(std::string& why) {
  const MosquittoCalls* calls =
      LinkedOrLoaded(&wx118_mosquitto_calls, "wx118-mqtt.so", "wx118_mosquitto_calls", why);
  static std::once_flag once;
  if (calls) std::call_once(once, [calls] { calls->lib_init(); });
  return calls;
}

std::unique_ptr<MqttPublisher> MqttPublisher::FromSecondaryFile(const Settings& settings, const PathMapper& paths,
                                                                ErrorSink& errors, const Weather* weather) {
  const auto ini = SecondaryProfile(settings, paths);
  if (!ini) return nullptr;
  std::vector<std::string> problems;
  std::optional<MqttSettings> mqtt = ReadMqttSettings(*ini, settings.station, paths, problems);
  for (const std::string& p : problems) errors.ShowError(p);
  if (!mqtt) return nullptr;
  if (weather) mqtt->deviceName = weather->station().name;
  return std::make_unique<MqttPublisher>(std::move(*mqtt), settings, errors, weather);
}

MqttPublisher::MqttPublisher(MqttSettings mqtt, const Settings& settings, ErrorSink& errors, const Weather* weather)
    : mqtt_(std::move(mqtt)), settings_(settings), errors_(errors), weather_(weather) {
  if (weather_) {
    for (const WeatherField& f : kWeatherFields)
      if (WeatherFieldAvailable(f, settings_.station.sensorEnabled, weather_->station().outdoor)) {
        weatherTopics_.push_back({&f, WeatherStateTopic(mqtt_, f), {}, {}});
        if (mqtt_.discovery) discovery_.push_back(WeatherDiscoveryConfig(mqtt_, f));
      }
  }
  where_ = mqtt_.host + ":" + std::to_string(mqtt_.port);
  for (int slot = 0; slot < kMqttSlots; ++slot) stateTopics_[slot] = StateTopic(mqtt_, slot);
  if (mqtt_.discovery) {
    for (int slot = 0; slot < kMqttSlots; ++slot) {
      const int channel = slot == kWindAverageSlot ? 10 : slot;
      if (!settings_.station.sensorEnabled[channel]) continue;
      std::optional<std::string> unit;
      if (const auto p = ToPhysical(settings_.units, channel, 0)) unit = p->unit;
      discovery_.push_back(DiscoveryConfig(mqtt_, settings_, slot, unit));
    }
  }
}

MqttPublisher::~MqttPublisher() { Stop(); }

void MqttPublisher::Start() {
  if (mosq_) return;
  std::string why;
  if (!LoadMosquitto(why)) {
    errors_.ShowError("MQTT: " + why + "; nothing is published.");
    return;
  }
  errno = 0;
  mosq_ = Mosq().new_(mqtt_.clientId.c_str(), true, this);
  if (!mosq_) {
    // The library gives no reason of its own for a client id it refuses.
    const std::string& id = mqtt_.clientId;
    const int valid = Mosq().validate_utf8(id.c_str(), int(std::min<size_t>(id.size(), 1 << 20)));
    const std::string key = "ClientId in the [MQTT] section of WX118ini2.txt";
    const std::string reason = valid == MOSQ_ERR_MALFORMED_UTF8 ? key + " holds a control character or is not UTF-8"
                               : valid != MOSQ_ERR_SUCCESS      ? key + " is longer than 65535 bytes"
                               : errno != 0                     ? std::string(std::strerror(errno))
                                                                : std::string("the library gave no reason");
    errors_.ShowError("MQTT: the client could not be created (" + reason + "); nothing is published.");
    return;
  }
  // Another thread runs the network: publishing from the GUI thread only queues.
  Mosq().threaded_set(mosq_, true);
  Mosq().connect_callback_set(mosq_, &MqttPublisher::OnConnect);
  Mosq().disconnect_callback_set(mosq_, &MqttPublisher::OnDisconnect);
  Mosq().log_callback_set(mosq_, &MqttPublisher::OnLog);
  const std::string offline = "offline";
  {
    std::lock_guard lock(mutex_);
    NotePublishResultLocked(Kind::Availability, AvailabilityTopic(mqtt_),
                            Mosq().will_set(mosq_, AvailabilityTopic(mqtt_).c_str(), int(offline.size()),
                                               offline.data(), kControlQos, true));
  }
  ReportProblems();
  if (!mqtt_.user.empty())
    Mosq().username_pw_set(mosq_, mqtt_.user.c_str(), mqtt_.password.empty() ? nullptr : mqtt_.password.c_str());
  if (!mqtt_.caFile.empty()) {
    const int rc = Mosq().tls_set(mosq_, mqtt_.caFile.c_str(), nullptr,
                                     mqtt_.certFile.empty() ? nullptr : mqtt_.certFile.c_str(),
                                     mqtt_.keyFile.empty() ? nullptr : mqtt_.keyFile.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      errors_.ShowError("MQTT: the TLS files in the [MQTT] section of WX118ini2.txt (CAFile " + mqtt_.caFile +
                        (mqtt_.certFile.empty() ? "" : ", CertFile " + mqtt_.certFile + ", KeyFile " + mqtt_.keyFile) +
                        ") cannot be used: " + Mosq().strerror(rc) + " Nothing is published.");
      Mosq().destroy(mosq_);
      mosq_ = nullptr;
      return;
    }
  }
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  pthread_setname_np(thread_.native_handle(), "wx118-mqtt");  // as top -H and the tests see it
}

void MqttPublisher::Stop() {
  if (!mosq_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Said here because the will is only for an unexpected end.
    if (connected_) PublishLocked(Kind::Availability, AvailabilityTopic(mqtt_), "offline", true);
  }
  Mosq().disconnect(mosq_);
  wake_.notify_all();
  // A name lookup cannot be interrupted; a program that is ending does not
  // wait for it longer than this.
  bool ended = false;
  {
    std::unique_lock lock(mutex_);
    ended = wake_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; });
  }
  if (ended) {
    thread_.join();
    Mosq().destroy(mosq_);
  } else {
    thread_.detach();  // the client stays allocated for the thread that still uses it
  }
  mosq_ = nullptr;
}

bool MqttPublisher::Connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

void MqttPublisher::PublishLocked(Kind kind, const std::string& topic, const std::string& payload, bool retain) {
  const int rc = Mosq().publish(mosq_, nullptr, topic.c_str(), int(payload.size()), payload.data(),
                                   kind == Kind::State ? kStateQos : kControlQos, retain);
  NotePublishResultLocked(kind, topic, rc);
}

void MqttPublisher::NotePublishResultLocked(Kind kind, const std::string& topic, int rc) {
  bool& failing = publishFailing_[static_cast<size_t>(kind)];
  // A lost connection has its own message, and all is sent again on the next.
  if (rc == MOSQ_ERR_NO_CONN) return;
  if (rc == MOSQ_ERR_SUCCESS) {
    failing = false;
    return;
  }
  if (failing) return;
  failing = true;
  const char* what = kind == Kind::Availability ? "the availability (online/offline)"
                     : kind == Kind::Discovery  ? "the discovery configs"
                                                : "the readings";
  publishProblems_.push_back(std::string("MQTT: ") + what + " cannot be published on topic " + topic + " (" +
                             Mosq().strerror(rc) + "); this is said once until publishing them works.");
}

void MqttPublisher::OnReading(const Reading& reading) {
  const int slot = MqttSlot(reading);
  if (slot < 0 || slot >= kMqttSlots) return;
  // A temperature as the log holds it (hundredths), so that raw and value agree.
  const double raw =
      IsKind(reading.channel, ChannelKind::Temperature) ? std::round(reading.raw * 100) / 100 : reading.raw;
  std::string payload =
      StatePayload(reading, settings_.station.windOffset, ToPhysical(settings_.units, reading.channel, raw));
  {
    std::lock_guard lock(mutex_);
    if (connected_) PublishLocked(Kind::State, stateTopics_[slot], payload, mqtt_.retain);
    latest_[slot] = std::move(payload);
  }
  if (!weatherTopics_.empty()) {
    const WeatherValues v = weather_->Snapshot(reading.when);
    for (WeatherTopic& w : weatherTopics_) {
      const std::optional<double> value = w.field->get(v);
      std::string sent = value ? RoundedNumber(*value, w.field->decimals) : "null";
      if (w.field->key == "peak_gust_today" && v.peakGustToday) sent += Stamp(v.peakGustToday->when);
      if (sent == w.sentValue && reading.when < w.sentAt + 10.0 / 1440) continue;
      std::lock_guard lock(mutex_);
      w.payload = WeatherPayload(v, *w.field);
      w.sentValue = std::move(sent);
      w.sentAt = reading.when;
      if (connected_) PublishLocked(Kind::State, w.topic, w.payload, mqtt_.retain);
    }
  }
  ReportProblems();
}

void MqttPublisher::ReportProblems() {
  std::string text;
  std::vector<std::string> failures;
  {
    std::lock_guard lock(mutex_);
    failures.swap(publishProblems_);
  }
  for (const std::string& failure : failures) errors_.ShowError(failure);
  {
    std::lock_guard lock(mutex_);
    if (!pendingProblem_) return;
    text = std::move(*pendingProblem_);
    pendingProblem_.reset();
    if (text == lastReported_) return;
    lastReported_ = text;
  }
  errors_.ShowError(text);
}

void MqttPublisher::NoteProblem(std::string text) {
  std::lock_guard lock(mutex_);
  if (text != lastReported_) pendingProblem_ = std::move(text);
}

void MqttPublisher::Run() {
  int backoff = 1;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      wasConnected_ = false;
    }
    {
      std::lock_guard lock(logMutex_);
      lastErrorLog_.clear();
    }
    // The name lookup and the start of the connection happen here, never on
    // the GUI thread.
    int rc = Mosq().connect_async(mosq_, mqtt_.host.c_str(), mqtt_.port, mqtt_.keepalive);
    const auto stopAt = std::chrono::steady_clock::now();
    bool draining = false;
    auto drainUntil = stopAt;
    while (rc == MOSQ_ERR_SUCCESS) {
      int timeoutMs = 1000;
      {
        std::lock_guard lock(mutex_);
        if (stopping_ && !draining) {
          draining = true;
          drainUntil = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        }
        // Connected, a queued message wakes the loop; the timeout only paces
        // the keep-alive.
        if (connected_) timeoutMs = mqtt_.keepalive * 250;
        if (draining) timeoutMs = 100;
      }
      if (draining && std::chrono::steady_clock::now() > drainUntil) break;
      rc = Mosq().loop(mosq_, timeoutMs, 1);
    }
    std::string errorLog;
    {
      std::lock_guard logLock(logMutex_);
      errorLog = lastErrorLog_;
    }
    std::unique_lock lock(mutex_);
    connected_ = false;
    if (stopping_) break;
    if (rc == MOSQ_ERR_CONN_REFUSED) {
      // OnConnect has described the refusal.
    } else if (rc == MOSQ_ERR_TLS || errorLog.find("SSL") != std::string::npos) {
      const std::string detail = errorLog.empty() ? Mosq().strerror(rc) : errorLog;
      lock.unlock();
      NoteProblem("MQTT: TLS with the broker at " + where_ + " failed (" + detail +
                  "). Check CAFile, CertFile and KeyFile in the [MQTT] section of WX118ini2.txt.");
      lock.lock();
    } else if (rc == MOSQ_ERR_EAI) {
      lock.unlock();
      NoteProblem("MQTT: the broker's name " + mqtt_.host + " cannot be looked up; trying again in the background.");
      lock.lock();
    } else {
      lock.unlock();
      NoteProblem("MQTT: no connection to the broker at " + where_ +
                  "; the latest readings are sent when it is back.");
      lock.lock();
    }
    if (wasConnected_) backoff = 1;
    if (wake_.wait_for(lock, std::chrono::seconds(backoff), [this] { return stopping_; })) break;
    backoff = std::min(backoff * 2, kMaxBackoffSeconds);
  }
  std::lock_guard lock(mutex_);
  connected_ = false;
  done_ = true;
  wake_.notify_all();
}

void MqttPublisher::OnConnect(mosquitto*, void* obj, int rc) {
  auto* self = static_cast<MqttPublisher*>(obj);
  if (rc != 0) {
    const MqttSettings& m = self->mqtt_;
    self->NoteProblem("MQTT: the broker at " + self->where_ + " refused the login" +
                      (m.user.empty() ? std::string() : " of user \"" + m.user + "\"") + " (" +
                      Mosq().connack_string(rc) +
                      "). Check User and PasswordFile in the [MQTT] section of WX118ini2.txt.");
    return;
  }
  std::lock_guard lock(self->mutex_);
  self->connected_ = true;
  self->wasConnected_ = true;
  self->lastReported_.clear();
  self->pendingProblem_.reset();
  // Everything a consumer needs after a broker restart: whether the station
  // is up, what it offers, and the latest value of each channel.
  self->PublishLocked(Kind::Availability, AvailabilityTopic(self->mqtt_), "online", true);
  for (const auto& [topic, payload] : self->discovery_) self->PublishLocked(Kind::Discovery, topic, payload, true);
  for (int slot = 0; slot < kMqttSlots; ++slot)
    if (!self->latest_[slot].empty())
      self->PublishLocked(Kind::State, self->stateTopics_[slot], self->latest_[slot], self->mqtt_.retain);
  for (const WeatherTopic& w : self->weatherTopics_)
    if (!w.payload.empty()) self->PublishLocked(Kind::State, w.topic, w.payload, self->mqtt_.retain);
}

void MqttPublisher::OnDisconnect(mosquitto*, void* obj, int) {
  auto* self = static_cast<MqttPublisher*>(obj);
  std::lock_guard lock(self->mutex_);
  self->connected_ = false;
}

void MqttPublisher::OnLog(mosquitto*, void* obj, int level, const char* text) {
  if (level != MOSQ_LOG_ERR || !text) return;
  auto* self = static_cast<MqttPublisher*>(obj);
  std::lock_guard lock(self->logMutex_);
  // The first error of an attempt names the cause; later ones follow from it.
  if (self->lastErrorLog_.empty()) self->lastErrorLog_ = text;
}

}  // namespace wx
#include "datalog/stamps.h"
#include "mqtt/mosquitto_calls.h"
#include "platform/modules.h"
