// SPDX-License-Identifier: GPL-2.0-or-later
#include "web/current_values.h"

#include <cmath>

#include "channels/channel_table.h"
#include "config/units.h"
#include "datalog/stamps.h"
#include "platform/text_encoding.h"
#include "weather/weather_fields.h"

namespace wx {
namespace {

// {"value": .., "time": ..} of a day's low or high; null when none.
std::string Timed(const std::optional<TimedValue>& t, int decimals) {
  if (!t) return "null";
  return "{\"value\": " + RoundedNumber(t->value, decimals) + ", \"time\": " + JsonString(IsoLocalTime(t->when)) +
         "}";
}

std::string Range(const DayRange& r, int decimals) {
  return "{\"low\": " + Timed(r.low, decimals) + ", \"high\": " + Timed(r.high, decimals) + "}";
}

// The "weather" member: every derived value with its unit, null when unknown.
std::string WeatherJson(const WeatherValues& v, int outdoor, bool imperial) {
  std::string j = "  \"weather\": {\n    \"imperial\": " + std::string(imperial ? "true" : "false");
  j += ",\n    \"outdoor\": " + JsonString(Channel(outdoor).name);
  for (const WeatherField& f : kWeatherFields) {
    j += ",\n    " + JsonString(f.key) + ": ";
    const std::optional<double> value = f.get(v);
    if (!value) {
      j += "null";
      continue;
    }
    j += "{\"value\": " + RoundedNumber(*value, f.decimals) + ", \"unit\": " + JsonString(f.unit);
    if (f.key == "wind_direction")
      j += ", \"compass\": " + JsonString(CompassPoint(int(std::lround(*value / 22.5)) % 16, 0));
    if (f.key == "peak_gust_today") {
      j += ", \"time\": " + JsonString(IsoLocalTime(v.peakGustToday->when)) + ", \"direction\": " +
           (v.peakGustDirectionDeg ? RoundedNumber(*v.peakGustDirectionDeg, 0) : std::string("null"));
    }
    j += "}";
  }
  j += ",\n    \"day\": {";
  for (int ch = 0; ch < 5; ++ch)
    j += "\"" + std::string(Channel(ch).name) + "\": " + Range(v.temperatureDay[size_t(ch)], 1) + ", ";
  j += "\"humidity\": " + Range(v.humidityDay, 0) + ", \"pressure\": " + Range(v.pressureDay, 1) + "}\n  }";
  return j;
}

}  // namespace

void CurrentValues::OnReading(const Reading& reading) {
  if (reading.channel < 0 || reading.channel >= kChannels) return;
  if (reading.channel == 10 && reading.average)
    windAverage_ = reading;
  else
    latest_[reading.channel] = reading;
}

std::string CurrentValues::Json(DateTime now) const {
  const PageConfig& page = settings_.page;
  std::string j = "{\n";
  j += "  \"station\": " + JsonString(page.stationName) + ",\n";
  j += "  \"version\": " + JsonString(kVersionText) + ",\n";
  j += "  \"time\": " + JsonString(IsoLocalTime(now)) + ",\n";
  j += "  \"stamp\": " + JsonString(Stamp(now)) + ",\n";
  j += "  \"message\": " + JsonString(page.pageMessage) + ",\n";
  j += "  \"page\": " + JsonString(page.pageFileName) + ",\n";
  j += "  \"image\": " + JsonString(page.imageFileName) + ",\n";
  j += "  \"refresh_seconds\": " + std::to_string(std::max<int32_t>(5, page.pageIntervalSeconds)) + ",\n";
  j += "  \"channels\": [";
  bool first = true;
  const auto windName = [&](double index) -> std::string {
    const int i = static_cast<int>(index);
    if (i < 0 || i >= 16) return "null";
    return JsonString(CompassPoint(i, settings_.station.windOffset));
  };
  for (int ch = 0; ch < kChannels; ++ch) {
    if (!settings_.station.sensorEnabled[ch]) continue;
    std::string label(Trim(settings_.plot.channelLabel[ch]));
    if (label.empty()) label = Channel(ch).displayName;
    j += first ? "\n" : ",\n";
    first = false;
    j += "    {\"channel\": " + JsonString(Channel(ch).name) + ", \"number\": " + std::to_string(ch) +
         ", \"label\": " + JsonString(label);
    const std::optional<Reading>& r = latest_[ch];
    if (!r) {
      j += ", \"stamp\": null, \"time\": null, \"raw\": null}";
      continue;
    }
    j += ", \"stamp\": " + JsonString(r->stamp) + ", \"time\": " + JsonString(IsoLocalTime(r->when));
    j += ", \"raw\": " + RoundedNumber(r->raw, IsKind(ch, ChannelKind::Temperature) ? 4 : 0) +
         ", \"raw_unit\": " + JsonString(Channel(ch).rawUnit);
    if (ch == 10) {
      j += ", \"direction\": " + windName(r->raw);
      if (windAverage_)
        j += ", \"average\": {\"stamp\": " + JsonString(windAverage_->stamp) + ", \"time\": " +
             JsonString(IsoLocalTime(windAverage_->when)) + ", \"raw\": " + RoundedNumber(windAverage_->raw, 0) +
             ", \"direction\": " + windName(windAverage_->raw) + "}";
    } else if (const auto p = ToPhysical(settings_.units, ch, r->raw)) {
      j += ", \"value\": " + RoundedNumber(p->value, 4) + ", \"unit\": " + JsonString(p->unit);
    }
    j += "}";
  }
  j += "\n  ]";
  if (weather) j += ",\n" + WeatherJson(weather->Snapshot(now), weather->station().outdoor, settings_.units.fahrenheit);
  j += "\n}\n";
  return j;
}

std::string CurrentValues::PhonePage(DateTime now) const {
  std::string json = Json(now);
  const PageConfig& page = settings_.page;
  std::string h;
  h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  h += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  h += "<title>" + HtmlEscape(page.stationName) + "</title>\n";
  h += R"(<style>
body { font-family: system-ui, sans-serif; margin: 0; padding: 1rem; background: #f4f6f8; color: #1a1a1a; }
main { max-width: 60rem; margin: 0 auto; }
h1 { font-size: 1.4rem; margin: 0 0 .25rem; }
#updated { color: #555; font-size: .9rem; margin: 0 0 1rem; }
#values { display: grid; grid-template-columns: repeat(auto-fill, minmax(10rem, 1fr)); gap: .75rem; }
.card { background: #fff; border-radius: .5rem; padding: .75rem; box-shadow: 0 1px 3px rgba(0,0,0,.15); }
.label { font-size: .85rem; color: #555; }
.value { font-size: 1.6rem; font-weight: 600; margin-top: .2rem; overflow-wrap: anywhere; }
.when { font-size: .75rem; color: #777; margin-top: .2rem; }
#message { margin: 1rem 0; padding: .75rem; background: #fff8dc; border-radius: .5rem; }
#message:empty { display: none; }
#weather { display: grid; grid-template-columns: repeat(auto-fill, minmax(14rem, 1fr)); gap: .75rem; margin-bottom: .75rem; }
#weather .value { font-size: 2rem; }
.detail { font-size: .9rem; color: #333; margin-top: .2rem; }
#chart { width: 100%; height: auto; margin-top: 1rem; background: #fff; }
footer { margin-top: 1rem; font-size: .9rem; }
</style>
</head>
<body>
<main>
<h1 id="station"></h1>
<p id="updated"></p>
<div id="message"></div>
<div id="weather"></div>
<div id="values"></div>
)";
  h += "<img id=\"chart\" src=\"" + HtmlEscape(page.imageFileName) + "\" alt=\"Chart of the last nine days\">\n";
  h += "<footer><a id=\"classic\" href=\"" + HtmlEscape(page.pageFileName) + "\">The station's classic page</a></footer>\n";
  h += "</main>\n<script id=\"initial\" type=\"application/json\">\n" + json + "</script>\n";
  h += R"(<script>
function shown(c) {
  if (c.raw === null) return '\u2014';
  if (c.channel === 'wind_direction') return c.direction === null ? '\u2014' : c.direction;
  var v = c.value !== undefined ? c.value : c.raw;
  var unit = c.value !== undefined ? c.unit : c.raw_unit;
  return String(Math.round(v * 10) / 10) + (unit ? ' ' + unit : '');
}
function card(list, key, label, value, detail) {
  var c = document.createElement('div');
  c.className = 'card';
  c.dataset.weather = key;
  var l = document.createElement('div');
  l.className = 'label';
  l.textContent = label;
  var v = document.createElement('div');
  v.className = 'value';
  v.textContent = value;
  c.append(l, v);
  if (detail) {
    var t = document.createElement('div');
    t.className = 'detail';
    t.textContent = detail;
    c.append(t);
  }
  list.append(c);
}
function renderWeather(d) {
  var list = document.getElementById('weather');
  list.textContent = '';
  var w = d.weather;
  if (!w) return;
  var today = d.time.substr(0, 10);
  function at(iso) {
    return (iso.substr(0, 10) === today ? '' : iso.substr(0, 10) + ' ') + iso.substr(11, 5);
  }
  function temp(c) { return w.imperial ? Math.round((c * 9 / 5 + 32) * 10) / 10 + ' \u00b0F' : c + ' \u00b0C'; }
  function speed(k) { return w.imperial ? Math.round(k / 1.609344) + ' mph' : Math.round(k) + ' km/h'; }
  function range(r) {
    var parts = [];
    if (r && r.high) parts.push('High ' + temp(r.high.value) + ' at ' + at(r.high.time));
    if (r && r.low) parts.push('Low ' + temp(r.low.value) + ' at ' + at(r.low.time));
    return parts.join(', ');
  }
  if (w.temperature) card(list, 'temperature', 'Temperature', temp(w.temperature.value), range(w.day[w.outdoor]));
  var wind = w.wind_average_10min || w.wind_speed;
  if (wind) {
    var gust = [];
    if (w.wind_gust) gust.push('Gust ' + speed(w.wind_gust.value));
    if (w.peak_gust_today) gust.push('peak today ' + speed(w.peak_gust_today.value) + ' at ' + at(w.peak_gust_today.time));
    card(list, 'wind', 'Wind', speed(wind.value) + (w.wind_direction ? ' ' + w.wind_direction.compass : ' calm'), gust.join(', '));
  }
  if (w.rain_today) {
    var mm = function (v) { return w.imperial ? Math.round(v / 25.4 * 100) / 100 + ' in' : v + ' mm'; };
    card(list, 'rain', 'Rain today', mm(w.rain_today.value), 'Rate ' + mm(w.rain_rate.value) + ' per hour');
  }
  if (w.humidity) card(list, 'humidity', 'Humidity', w.humidity.value + ' %', w.dew_point ? 'Dew point ' + temp(w.dew_point.value) : '');
  var p = w.sea_level_pressure || w.station_pressure;
  if (p) {
    var trend = '';
    if (w.pressure_trend_3h) {
      var t = w.pressure_trend_3h.value;
      trend = (t > 0.5 ? 'Rising ' : t < -0.5 ? 'Falling ' : 'Steady, ') + Math.abs(t) + ' hPa in 3 hours';
    }
    card(list, 'pressure', w.sea_level_pressure ? 'Pressure (sea level)' : 'Pressure (station)', p.value + ' hPa', trend);
  }
}
function render(d) {
  renderWeather(d);
  document.getElementById('station').textContent = d.station;
  document.getElementById('updated').textContent = 'Updated ' + d.time.replace('T', ' ');
  document.title = d.station;
  document.getElementById('message').innerHTML = d.message;
  var list = document.getElementById('values');
  list.textContent = '';
  d.channels.forEach(function (c) {
    var card = document.createElement('div');
    card.className = 'card';
    card.dataset.channel = c.channel;
    var label = document.createElement('div');
    label.className = 'label';
    label.textContent = c.label;
    var value = document.createElement('div');
    value.className = 'value';
    value.textContent = shown(c);
    var when = document.createElement('div');
    when.className = 'when';
    when.textContent = c.time ? c.time.substr(11, 5) : 'not read yet';
    card.append(label, value, when);
    list.append(card);
  });
  document.body.dataset.stamp = d.stamp;
}
function load() {
  fetch('current.json', {cache: 'no-store'}).then(function (r) { return r.json(); }).then(function (d) {
    render(d);
    document.getElementById('chart').src = d.image + '?' + d.stamp;
  }).catch(function () {});
}
var first = JSON.parse(document.getElementById('initial').textContent);
render(first);
setInterval(load, first.refresh_seconds * 1000);
</script>
</body>
</html>
)";
  return h;
}

}  // namespace wx
