// SPDX-License-Identifier: GPL-2.0-or-later
// Publishes every reading to an MQTT broker through libmosquitto, with Home
// Assistant discovery configs and an availability topic. All network work
// (name lookup, connecting, TLS, sending) runs on the publisher's own thread;
// the GUI thread only formats a payload and queues it. While there is no
// connection only the latest value of each channel is kept, and every
// latest value is sent again on each (re)connection.
#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "mqtt/mqtt_messages.h"
#include "weather/weather.h"
#include "mqtt/mqtt_settings.h"
#include "channels/reading_observer.h"
#include "platform/error_sink.h"
#include "platform/paths.h"

struct mosquitto;

namespace wx {

class MqttPublisher : public ReadingObserver {
 public:
  // Reads the [MQTT] section of the secondary file; nullptr when it is
  // absent (or unusable: the reason goes to `errors`). Call after the
  // primary file is read, so the chips' ids are known.
  // With weather, its values go out too (it must outlive the publisher).
  static std::unique_ptr<MqttPublisher> FromSecondaryFile(const Settings& settings, const PathMapper& paths,
                                                          ErrorSink& errors, const Weather* weather = nullptr);

  // Physical values follow settings.units ([Units]).
  MqttPublisher(MqttSettings mqtt, const Settings& settings, ErrorSink& errors, const Weather* weather = nullptr);
  ~MqttPublisher() override;

  // Starts the network thread.
  void Start();
  // Says "offline", disconnects and ends the thread; returns at once when
  // there is nothing to stop.
  void Stop();

  void OnReading(const Reading& reading) override;
  // Reports, once, a problem the network thread met; OnReading does it too.
  void ReportProblems();

  bool Connected() const;
  const MqttSettings& settings() const { return mqtt_; }

 private:
  void Run();
  // What a message is, for its QoS and for reporting its failures.
  enum class Kind { Availability, Discovery, State };
  void PublishLocked(Kind kind, const std::string& topic, const std::string& payload, bool retain);
  // Notes a failure of a kind once, until one of that kind succeeds again.
  void NotePublishResultLocked(Kind kind, const std::string& topic, int rc);
  void NoteProblem(std::string text);
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnLog(mosquitto*, void* self, int level, const char* text);

  MqttSettings mqtt_;
  const Settings& settings_;
  ErrorSink& errors_;
  std::array<std::string, kMqttSlots> stateTopics_;
  std::vector<std::pair<std::string, std::string>> discovery_;
  std::string where_;  // host:port for messages

  mosquitto* mosq_ = nullptr;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  // Set and cleared under mutex_ (so the resend on connect and a reading
  // taken at that moment keep their order). The library calls OnDisconnect
  // from mosquitto_loop and mosquitto_disconnect, which run without mutex_;
  // a publish made under mutex_ only sends what is queued before the
  // disconnect that Stop() asks for after its last publish.
  std::atomic<bool> connected_ = false;
  bool wasConnected_ = false;  // in the current attempt
  bool done_ = false;          // the thread has ended
  std::array<std::string, kMqttSlots> latest_;
  // The derived weather: the values this station can give, their topics,
  // latest payloads, and what was last sent and when (a value goes out
  // when it changes, and every 10 minutes so that its time stays fresh).
  struct WeatherTopic {
    const WeatherField* field;
    std::string topic, payload, sentValue;
    DateTime sentAt = 0;
  };
  const Weather* weather_;
  std::vector<WeatherTopic> weatherTopics_;
  std::mutex logMutex_;  // the library logs while holding its own locks
  std::string lastErrorLog_;
  std::optional<std::string> pendingProblem_;
  std::array<bool, 3> publishFailing_{};       // by Kind
  std::vector<std::string> publishProblems_;  // not yet reported
  std::string lastReported_;
};

}  // namespace wx
