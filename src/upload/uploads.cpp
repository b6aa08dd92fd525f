// SPDX-License-Identifier: GPL-2.0-or-later
#include "upload/uploads.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "config/secondary_config.h"
#include "datalog/stamps.h"
#include "upload/curl_calls.h"
#include "upload/upload_formats.h"

namespace wx {
namespace {

constexpr uint32_t kFirstRetryMs = 30'000;
// Before the first upload the snapshot is looked at this often.
constexpr uint32_t kReadyCheckMs = 5'000;
// A value the station should measure but that stays unknown (a sensor that
// never answers) holds the first upload back no longer than this.
constexpr uint32_t kMaxFirstWaitMs = 10 * 60'000;
constexpr int kTimeoutSeconds = 15;

}  // namespace

struct Uploads::Lane {
  UploadTarget target;
  std::thread thread;
  std::atomic<bool> stop = false;
  std::mutex mutex;
  std::condition_variable wake;
  std::optional<UploadRequest> job;     // for the worker
  std::optional<UploadOutcome> result;  // from the worker
  bool done = false;                    // the worker has ended
  // The GUI thread's side.
  bool busy = false;  // a job is out, its result not yet taken
  bool sentOnce = false;
  uint32_t since = 0;   // tick of the last attempt (or look at the values)
  uint32_t waitMs = 0;  // until the next
  uint32_t backoffMs = 0;
  int failures = 0;
  std::string reported;  // the failure last said; empty while uploads work
};

StationMeasures MeasuresOf(const StationConfig& config, const StationSettings& station) {
  const auto& on = config.sensorEnabled;
  StationMeasures m;
  m.temperature = station.outdoor >= 0 && station.outdoor < 5 && on[size_t(station.outdoor)];
  m.rain = on[5];
  m.wind = on[6];
  m.pressure = on[8];
  m.humidity = on[9];
  return m;
}

std::unique_ptr<Uploads> Uploads::FromSecondaryFile(const Settings& settings, const StationSettings& station,
                                                    const PathMapper& paths, const Clock& clock, ErrorSink& errors,
                                                    const std::string& version) {
  const auto ini = SecondaryProfile(settings, paths);
  if (!ini) return nullptr;
  std::vector<std::string> problems;
  std::vector<UploadTarget> targets = ReadUploadSettings(*ini, paths, problems);
  for (const std::string& p : problems) errors.ShowError(p);
  if (targets.empty()) return nullptr;
  auto uploads = std::make_unique<Uploads>(std::move(targets), station, MeasuresOf(settings.station, station), clock,
                                           errors, version);
  if (uploads->size() == 0) return nullptr;
  return uploads;
}

Uploads::Uploads(std::vector<UploadTarget> targets, const StationSettings& station, StationMeasures measures,
                 const Clock& clock, ErrorSink& errors, std::string version, UploadTransport transport)
    : latitude_(station.latitude), longitude_(station.longitude), measures_(measures), clock_(clock), errors_(errors),
      version_(std::move(version)), transport_(std::move(transport)) {
  for (UploadTarget& t : targets) {
    if (t.network == Network::Cwop && !AprsWeatherPacket(t, latitude_, longitude_, {}, 0)) {
      errors_.ShowError(
          "CWOP needs the station's position: Latitude and Longitude in the [Station] section of "
          "WX118ini2.txt. Nothing is sent to CWOP.");
      continue;
    }
    auto lane = std::make_shared<Lane>();
    lane->target = std::move(t);
    lanes_.push_back(std::move(lane));
  }
}

Uploads::~Uploads() { Stop(); }

void Uploads::Start() {
  // libcurl's global set-up is not safe beside other threads: done here,
  // before the lanes start (a module that cannot be loaded is reported by
  // each HTTP upload).
  std::string why;
  LoadCurl(why);
  startTick_ = clock_.GetTickCount();
  for (const auto& lane : lanes_) {
    if (lane->thread.joinable()) continue;
    lane->since = startTick_;
    lane->thread = std::thread([lane, transport = transport_] { Work(*lane, transport); });
    pthread_setname_np(lane->thread.native_handle(), "wx118-upload");  // as top -H and the tests see it
  }
}

void Uploads::Stop() {
  for (const auto& lane : lanes_) {
    std::lock_guard lock(lane->mutex);
    lane->stop = true;
    lane->wake.notify_all();
  }
  // A name lookup cannot be broken off; a program that is ending does not
  // wait for it longer than this. The worker holds its lane and the transport.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (const auto& lane : lanes_) {
    if (!lane->thread.joinable()) continue;
    bool ended;
    {
      std::unique_lock lock(lane->mutex);
      ended = lane->wake.wait_until(lock, until, [&] { return lane->done; });
    }
    if (ended)
      lane->thread.join();
    else
      lane->thread.detach();
  }
}

void Uploads::Work(Lane& lane, const UploadTransport& transport) {
  std::unique_lock lock(lane.mutex);
  for (;;) {
    lane.wake.wait(lock, [&] { return lane.stop || lane.job; });
    if (lane.stop) break;
    UploadRequest job = std::move(*lane.job);
    lane.job.reset();
    lock.unlock();
    UploadOutcome outcome = transport(job, lane.stop);
    lock.lock();
    lane.result = std::move(outcome);
  }
  lane.done = true;
  lane.wake.notify_all();
}

size_t Uploads::UnderWay() const {
  size_t n = 0;
  for (const auto& lane : lanes_) {
    std::lock_guard lock(lane->mutex);
    n += lane->busy && !lane->result;
  }
  return n;
}

bool Uploads::FirstValuesKnown(const WeatherValues& w, uint32_t now) const {
  if (now - startTick_ >= kMaxFirstWaitMs) return true;
  const StationMeasures& m = measures_;
  return (!m.temperature || w.temperatureC) && (!m.humidity || w.humidityPercent) &&
         (!m.pressure || w.stationPressureHpa || w.seaLevelPressureHpa) && (!m.wind || w.windSpeedKmh) &&
         (!m.rain || w.rainTodayMm);
}

void Uploads::TakeResult(Lane& lane) {
  std::optional<UploadOutcome> outcome;
  {
    std::lock_guard lock(lane.mutex);
    outcome.swap(lane.result);
  }
  if (!outcome) return;
  lane.busy = false;
  const std::string name = NameOf(lane.target.network);
  const uint32_t intervalMs = uint32_t(lane.target.intervalSeconds) * 1000;
  if (outcome->ok) {
    if (!lane.reported.empty())
      errors_.ShowError("Upload to " + name + " works again (after " + std::to_string(lane.failures) +
                        " failed attempt" + (lane.failures == 1 ? "" : "s") + ").");
    lane.reported.clear();
    lane.failures = 0;
    lane.backoffMs = 0;
    lane.waitMs = intervalMs;
    return;
  }
  ++lane.failures;
  lane.backoffMs = std::min(intervalMs, lane.backoffMs == 0 ? kFirstRetryMs : lane.backoffMs * 2);
  lane.waitMs = lane.backoffMs;
  // Said once for an outage; a different cause is said once too.
  if (outcome->reason == lane.reported) return;
  lane.reported = outcome->reason;
  errors_.ShowError("Upload to " + name + " failed: " + outcome->reason + "; trying again at least every " +
                    std::to_string(lane.target.intervalSeconds) + " s, and this is said once until an upload works.");
}

void Uploads::Tick(const Snapshot& snapshot) {
  const uint32_t now = clock_.GetTickCount();
  std::optional<WeatherValues> weather;
  for (const auto& lanePtr : lanes_) {
    Lane& lane = *lanePtr;
    if (!lane.thread.joinable()) continue;
    TakeResult(lane);
    if (lane.busy || now - lane.since < lane.waitMs) continue;
    if (!weather) weather = snapshot();
    // Due times keep their cadence: a cycle that came late does not push
    // every later upload back.
    const uint32_t due = lane.since + lane.waitMs;
    lane.since = lane.sentOnce && now - due < kReadyCheckMs ? due : now;
    const UploadValues values = PlausibleValues(*weather);
    // Nothing known (every sensor failing) sends nothing.
    if (values.Empty() || (!lane.sentOnce && !FirstValuesKnown(*weather, now))) {
      lane.waitMs = kReadyCheckMs;
      continue;
    }
    const std::time_t utc = LocalToUnix(weather->when != 0 ? weather->when : clock_.Now());
    UploadRequest request;
    request.target = lane.target;
    request.timeoutSeconds = std::min(kTimeoutSeconds, lane.target.intervalSeconds);
    if (lane.target.network == Network::Cwop) {
      request.login = AprsLogin(lane.target, version_);
      request.packet = *AprsWeatherPacket(lane.target, latitude_, longitude_, values, utc);
    } else {
      request.url = UploadUrl(lane.target, values, utc, version_);
    }
    lane.sentOnce = true;
    lane.busy = true;
    lane.waitMs = 0;  // set when the result is taken
    std::lock_guard lock(lane.mutex);
    lane.job = std::move(request);
    lane.wake.notify_all();
  }
}

}  // namespace wx
