// SPDX-License-Identifier: GPL-2.0-or-later
// The latest reading of every channel, for the outputs beside the specified
// page: current.json (for programs and the phone page) and index.html, a
// page that reads well at phone and desktop width and refreshes itself from
// current.json. The monitor subscribes this to the readers' announcements.
#pragma once
#include <array>
#include <optional>
#include <string>

#include "config/settings.h"
#include "channels/reading_observer.h"
#include "platform/clock.h"
#include "weather/weather.h"

namespace wx {

class CurrentValues : public ReadingObserver {
 public:
  explicit CurrentValues(const Settings& settings) : settings_(settings) {}
  void OnReading(const Reading& reading) override;

  // current.json as of now (its fields: docs/current-json.md).
  std::string Json(DateTime now) const;
  // index.html: the values of Json(now) in the page, kept fresh by its script.
  std::string PhonePage(DateTime now) const;

  const std::optional<Reading>& Latest(int channel) const { return latest_.at(channel); }

  // The derived weather the page and current.json show; none: no "weather".
  const Weather* weather = nullptr;

 private:
  const Settings& settings_;
  std::array<std::optional<Reading>, kChannels> latest_{};
  std::optional<Reading> windAverage_;
};

}  // namespace wx
