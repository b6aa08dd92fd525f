// SPDX-License-Identifier: GPL-2.0-or-later
// One place where a finished reading becomes known. A reader announces each
// successful reading once; outputs beside the specified files (current
// values, the phone page, MQTT) subscribe here instead of being called by
// every reader.
#pragma once
#include <string>
#include <vector>

#include "platform/clock.h"

namespace wx {

struct Reading {
  int channel = 0;       // 0..12, the index of every per-channel table
  DateTime when = 0;     // local time the reading was taken
  std::string stamp;     // the 8-character stamp a record of it would carry
  // The value in the units the data log holds it: degrees Celsius for
  // temperatures, the count for counters and on/off channels, hundredths of
  // a volt for pressure and humidity, the direction index 0..16 (16 = no
  // valid code) for the wind.
  double raw = 0;
  // Wind only: true for the average over a chart column (the most frequent
  // direction), false for a single vane reading.
  bool average = false;
};

class ReadingObserver {
 public:
  virtual ~ReadingObserver() = default;
  // Called on the GUI thread inside the cycle: must return promptly.
  virtual void OnReading(const Reading& reading) = 0;
};

// The readers own one and announce through it; outputs subscribe to it.
class ReadingAnnouncer {
 public:
  void Subscribe(ReadingObserver& observer) { observers_.push_back(&observer); }
  void Unsubscribe(ReadingObserver& observer) { std::erase(observers_, &observer); }
  void Announce(const Reading& reading) const {
    for (ReadingObserver* o : observers_) o->OnReading(reading);
  }

 private:
  std::vector<ReadingObserver*> observers_;
};

}  // namespace wx
