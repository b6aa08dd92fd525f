// SPDX-License-Identifier: GPL-2.0-or-later
// The GUI thread's share of publishing one reading over MQTT: formatting the
// payload, keeping it as the channel's latest, and queueing it for the
// network thread. Connected: a mosquitto started here on 127.0.0.1 (skipped
// when the broker is not installed). Offline: no broker listening, so the
// reading is only kept for the reconnection. Raw only, and with [Units].
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/fakes.h"
#include "datalog/stamps.h"
#include "mqtt/mqtt_publisher.h"

extern char** environ;

namespace {

int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

class Broker {
 public:
  explicit Broker(int port) {
    char tmpl[] = "/tmp/wx118-mqtt-bench-XXXXXX";
    dir_ = mkdtemp(tmpl);
    std::ofstream(dir_ / "m.conf") << "listener " << port << " 127.0.0.1\nallow_anonymous true\nuser "
                                   << (getuid() == 0 ? "root" : "nobody") << "\n";
    const std::string conf = (dir_ / "m.conf").string();
    const char* argv[] = {"mosquitto", "-c", conf.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "mosquitto", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Broker() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove_all(dir_);
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  std::filesystem::path dir_;
};

wx::Settings StationSettings(bool units) {
  wx::Settings s;
  wx::SetDefaultChannelLabels(s.plot);
  for (int ch = 0; ch < wx::kChannels; ++ch) {
    s.station.sensorEnabled[ch] = true;
    s.station.sensorIdText[ch] = "10000000000000" + std::to_string(10 + ch);
  }
  if (units) {
    s.units.present = true;
    s.units.fahrenheit = true;
    for (int ch : {5, 6, 7, 8, 9, 11, 12}) {
      s.units.mapped[ch] = true;
      s.units.factor[ch] = 0.25;
      s.units.unit[ch] = ch == 8 ? "hPa" : "mm";
    }
  }
  return s;
}

void Publish(benchmark::State& state, bool connected, bool units) {
  const int port = FreePort();
  std::unique_ptr<Broker> broker;
  if (connected) {
    broker = std::make_unique<Broker>(port);
    if (!broker->started()) {
      state.SkipWithError("mosquitto is not installed");
      return;
    }
  }
  const wx::Settings settings = StationSettings(units);
  wx::MqttSettings mqtt;
  mqtt.host = "127.0.0.1";
  mqtt.port = port;
  mqtt.clientId = "wx118-bench";
  mqtt.prefix = "bench/wx118";
  mqtt.station = "bench";
  wx::test::RecordingErrors sink;
  wx::MqttPublisher publisher(mqtt, settings, sink);
  publisher.Start();
  if (connected) {
    for (int i = 0; i < 500 && !publisher.Connected(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!publisher.Connected()) {
      state.SkipWithError("no connection to the broker");
      return;
    }
  }
  wx::Reading r{0, 46363.5, wx::Stamp(46363.5), 21.5};
  int n = 0;
  for (auto _ : state) {
    r.channel = n % wx::kChannels;
    r.raw = 10 + (n % 97) * 0.0625;
    if (r.channel == 10) r.raw = n % 17;
    publisher.OnReading(r);
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PublishConnected(benchmark::State& state) { Publish(state, true, false); }
void BM_PublishConnectedUnits(benchmark::State& state) { Publish(state, true, true); }
void BM_PublishOffline(benchmark::State& state) { Publish(state, false, false); }

BENCHMARK(BM_PublishConnected)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PublishConnectedUnits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PublishOffline)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
