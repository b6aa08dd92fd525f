// SPDX-License-Identifier: GPL-2.0-or-later
// Sends the weather to the networks of the secondary file. The GUI thread
// calls Tick once a cycle: it decides what is due (on the program's clock),
// makes the request from a snapshot of the weather and hands it to the
// network's own worker thread, which alone touches the network. So a
// service that is down, slow or refuses the login never delays the cycle.
// The first upload goes out once the values the station measures are known,
// then one every Interval; after a failure the next try follows sooner
// (30 s, doubling up to the interval). A failure is reported once, until an
// upload works again, and that end once too.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/error_sink.h"
#include "platform/paths.h"
#include "upload/upload_settings.h"
#include "upload/upload_transport.h"
#include "weather/weather_values.h"

namespace wx {

// What the station measures: the first upload waits until each is known.
struct StationMeasures {
  bool temperature = false, humidity = false, pressure = false, wind = false, rain = false;
};
StationMeasures MeasuresOf(const StationConfig& config, const StationSettings& station);

class Uploads {
 public:
  using Snapshot = std::function<WeatherValues()>;

  // Reads the upload sections of the secondary file; nullptr when there is
  // none (or none usable: the reasons go to `errors`).
  static std::unique_ptr<Uploads> FromSecondaryFile(const Settings& settings, const StationSettings& station,
                                                    const PathMapper& paths, const Clock& clock, ErrorSink& errors,
                                                    const std::string& version);

  Uploads(std::vector<UploadTarget> targets, const StationSettings& station, StationMeasures measures,
          const Clock& clock, ErrorSink& errors, std::string version, UploadTransport transport = SendOverNetwork);
  ~Uploads();
  Uploads(const Uploads&) = delete;
  Uploads& operator=(const Uploads&) = delete;

  // Starts one worker thread per network.
  void Start();
  // Ends the workers; a transfer under way is broken off.
  void Stop();

  // On the GUI thread, once a cycle: takes the workers' results, reports,
  // and hands out what is due. `snapshot` is called only when something is.
  void Tick(const Snapshot& snapshot);

  size_t size() const { return lanes_.size(); }
  // How many uploads are under way (handed to a worker, no result yet).
  size_t UnderWay() const;

 private:
  struct Lane;
  static void Work(Lane& lane, const UploadTransport& transport);
  void TakeResult(Lane& lane);
  bool FirstValuesKnown(const WeatherValues& w, uint32_t now) const;

  std::vector<std::shared_ptr<Lane>> lanes_;
  std::optional<double> latitude_, longitude_;
  StationMeasures measures_;
  const Clock& clock_;
  ErrorSink& errors_;
  std::string version_;
  UploadTransport transport_;
  uint32_t startTick_ = 0;
};

}  // namespace wx
