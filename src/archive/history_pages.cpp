// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/history_pages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>

#include "platform/text_encoding.h"

namespace wx {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kCompass16[16] = {"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
                                        "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};

std::tm Tm(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

int64_t SecondsOf(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  return static_cast<int64_t>(timegm(&tm));
}

int64_t DayStart(int yyyymmdd) { return SecondsOf(yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100); }

std::string Format(const char* fmt, auto... args) {
  const int n = std::snprintf(nullptr, 0, fmt, args...);
  std::string s(static_cast<size_t>(std::max(n, 0)), '\0');
  std::snprintf(s.data(), s.size() + 1, fmt, args...);
  return s;
}

std::string Number(double v, int decimals) {
  const double shown = std::round(v * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
  return Format("%.*f", decimals, shown == 0 ? 0.0 : shown);  // no "-0.0"
}

std::string HourMinute(int64_t t) {
  const std::tm tm = Tm(t);
  return Format("%02d:%02d", tm.tm_hour, tm.tm_min);
}

std::string Compass(double degrees) {
  const int i = static_cast<int>(std::lround(std::fmod(degrees + 360.0, 360.0) / 22.5)) % 16;
  return kCompass16[i];
}

// ------------------------------------------------------------------ charts

// Round steps for about `wanted` intervals over the span.
double NiceStep(double span, int wanted) {
  if (!(span > 0)) return 1;
  const double raw = span / wanted;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (raw <= m * mag) return m * mag;
  return 10 * mag;
}

std::string Colour(uint32_t c) { return Format("#%06x", c & 0xFFFFFF); }

struct TimeTicks {
  std::vector<std::pair<int64_t, std::string>> ticks;
};

TimeTicks TimeAxis(int64_t from, int64_t to) {
  TimeTicks out;
  const int64_t span = to - from;
  if (span <= 2 * 86400) {
    const int64_t step = span <= 86400 ? 3 * 3600 : 6 * 3600;
    for (int64_t t = (from / step + 1) * step; t < to; t += step) out.ticks.emplace_back(t, HourMinute(t));
  } else if (span <= 10 * 86400) {
    for (int64_t t = (from / 86400 + 1) * 86400; t < to; t += 86400) {
      const std::tm tm = Tm(t);
      out.ticks.emplace_back(t, Format("%s %d", kDayNames[tm.tm_wday], tm.tm_mday));
    }
  } else if (span <= 62 * 86400) {
    for (int64_t t = (from / 86400 + 1) * 86400; t < to; t += 86400) {
      const std::tm tm = Tm(t);
      if (tm.tm_mday == 1 || tm.tm_mday % 7 == 1)
        out.ticks.emplace_back(t, Format("%d %s", tm.tm_mday, kMonthNames[tm.tm_mon]));
    }
  } else {
    std::tm tm = Tm(from);
    int y = tm.tm_year + 1900, m = tm.tm_mon + 1;
    for (;;) {
      if (++m > 12) {
        m = 1;
        ++y;
      }
      const int64_t t = SecondsOf(y, m, 1);
      if (t >= to) break;
      out.ticks.emplace_back(t, m == 1 ? Format("%d", y) : std::string(kMonthNames[m - 1]));
    }
  }
  return out;
}

}  // namespace

std::string SvgChart(const ChartSpec& spec) {
  // Drawn in a 400 x 220 box that scales with the page: at a phone's width
  // the text stays about its nominal size, on a wide screen charts sit side
  // by side.
  constexpr double W = 400, H = 220, left = 46, right = 392, top = 28, bottom = 192;
  double lo = spec.fixedLow, hi = spec.fixedHigh;
  bool any = false;
  if (std::isnan(lo) || std::isnan(hi)) {
    double dlo = INFINITY, dhi = -INFINITY;
    for (const ChartSeries& s : spec.series)
      for (const auto& [t, v] : s.points)
        if (std::isfinite(v)) {
          dlo = std::min(dlo, v);
          dhi = std::max(dhi, v);
          any = true;
        }
    if (!any) dlo = 0, dhi = 1;
    if (spec.fromZero) dlo = std::min(dlo, 0.0), dhi = std::max(dhi, spec.series.empty() ? 1.0 : dhi);
    if (dhi - dlo < 1e-9) dlo -= 1, dhi += 1;
    const double step = NiceStep(dhi - dlo, 5);
    lo = std::floor(dlo / step) * step;
    hi = std::ceil(dhi / step) * step;
  } else {
    any = true;
  }
  const double step = spec.compassAxis ? 90 : NiceStep(hi - lo, 5);
  const double span = std::max<double>(1, static_cast<double>(spec.to - spec.from));
  const auto X = [&](double t) { return left + (t - static_cast<double>(spec.from)) / span * (right - left); };
  const auto Y = [&](double v) { return bottom - (v - lo) / (hi - lo) * (bottom - top); };

  std::string s = Format(
      "<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"%s\" xmlns=\"http://www.w3.org/2000/svg\" "
      "font-family=\"sans-serif\" font-size=\"12\">",
      W, H, HtmlEscape(spec.title).c_str());
  s += "<text x=\"4\" y=\"15\" font-weight=\"bold\">" + HtmlEscape(spec.title) + " (" + HtmlEscape(spec.unit) +
       ")</text>";
  // Legend at the top right, one name per series.
  double lx = right;
  for (auto it = spec.series.rbegin(); it != spec.series.rend(); ++it) {
    s += Format("<text x=\"%.1f\" y=\"15\" text-anchor=\"end\" fill=\"%s\">%s</text>", lx, Colour(it->colour).c_str(),
                HtmlEscape(it->name).c_str());
    lx -= 7.0 * static_cast<double>(it->name.size()) + 10;
  }
  // Value axis: grid lines and labels.
  s += "<g stroke=\"#ddd\">";
  std::string labels;
  for (double v = lo; v <= hi + step * 1e-6; v += step) {
    s += Format("<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\"/>", left, right, Y(v), Y(v));
    std::string text;
    if (spec.compassAxis) {
      text = Compass(v);
    } else {
      const int decimals = step < 1 ? (step < 0.1 ? 2 : 1) : 0;
      text = Number(v, decimals);
    }
    labels += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%s</text>", left - 4, Y(v) + 4, text.c_str());
  }
  // Time axis: ticks and labels.
  const TimeTicks ticks = TimeAxis(spec.from, spec.to);
  for (const auto& [t, text] : ticks.ticks) {
    const double x = X(static_cast<double>(t));
    s += Format("<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\"/>", x, x, top, bottom + 4);
    labels += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>", x, bottom + 17, text.c_str());
  }
  s += "</g>";
  s += Format(
      "<g stroke=\"#444\"><line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\"/>"
      "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\"/></g>",
      left, left, top, bottom, left, right, bottom, bottom);
  s += "<g fill=\"#333\">" + labels + "</g>";
  if (!any) {
    s += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#888\">no data</text>", (left + right) / 2,
                (top + bottom) / 2);
  }
  for (const ChartSeries& series : spec.series) {
    const std::string colour = Colour(series.colour);
    if (series.style == ChartSeries::Style::Line) {
      std::string d;
      int64_t prev = 0;
      bool open = false;
      for (const auto& [t, v] : series.points) {
        if (!std::isfinite(v)) {
          open = false;
          continue;
        }
        const bool join = open && (spec.gap <= 0 || t - prev <= spec.gap);
        d += Format("%c%.1f %.1f", join ? 'L' : 'M', X(static_cast<double>(t)), Y(v));
        open = true;
        prev = t;
      }
      if (!d.empty()) s += "<path fill=\"none\" stroke-width=\"1.5\" stroke=\"" + colour + "\" d=\"" + d + "\"/>";
    } else if (series.style == ChartSeries::Style::Dots) {
      s += "<g fill=\"" + colour + "\">";
      for (const auto& [t, v] : series.points)
        if (std::isfinite(v))
          s += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"1.5\"/>", X(static_cast<double>(t)), Y(v));
      s += "</g>";
    } else {
      const double w = std::max(1.0, spec.barWidth / span * (right - left) * 0.8);
      s += "<g fill=\"" + colour + "\">";
      for (const auto& [t, v] : series.points) {
        if (!std::isfinite(v) || v <= 0) continue;
        // A bar stands over the interval it sums, which ends at t.
        const double x = X(static_cast<double>(t) - spec.barWidth / 2) - w / 2;
        s += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>", x, Y(v), w, Y(lo) - Y(v));
      }
      s += "</g>";
    }
  }
  return s + "</svg>";
}

namespace {

// ------------------------------------------------------------------ extremes

// A quantity's extremes over several day rows.
struct Span {
  std::optional<double> min, max;
  int64_t minTime = 0, maxTime = 0;
  std::optional<double> maxDir;
  double sum = 0;
  int64_t count = 0;
  double xsum = 0, ysum = 0;
  std::optional<double> wettest;  // the highest day's sum
  int wettestDay = 0;
  int daysOver[3] = {0, 0, 0};  // days whose sum reached 0.2, 2, 20
};

std::array<Span, kQuantities> Combine(const std::vector<DayDelta>& rows) {
  std::array<Span, kQuantities> out{};
  for (const DayDelta& d : rows) {
    Span& s = out[static_cast<size_t>(d.quantity)];
    if (d.min && (!s.min || *d.min < *s.min)) s.min = d.min, s.minTime = d.minTime;
    if (d.max && (!s.max || *d.max > *s.max)) s.max = d.max, s.maxTime = d.maxTime, s.maxDir = d.maxDir;
    s.sum += d.sum;
    s.count += d.count;
    s.xsum += d.xsum;
    s.ysum += d.ysum;
    if (d.count > 0 && (!s.wettest || d.sum > *s.wettest)) s.wettest = d.sum, s.wettestDay = d.day;
    const double limits[3] = {0.2, 2.0, 20.0};
    for (int i = 0; i < 3; ++i)
      if (d.count > 0 && d.sum >= limits[i] - 1e-9) ++s.daysOver[i];
  }
  return out;
}

const Span& Of(const std::array<Span, kQuantities>& a, Quantity q) { return a[static_cast<size_t>(q)]; }

// "14:23" within one day, "9 Dec 14:23" within a year, with the year beyond.
std::string When(int64_t t, int detail) {
  const std::tm tm = Tm(t);
  if (detail == 0) return HourMinute(t);
  if (detail == 1) return Format("%d %s %s", tm.tm_mday, kMonthNames[tm.tm_mon], HourMinute(t).c_str());
  return Format("%d %s %d %s", tm.tm_mday, kMonthNames[tm.tm_mon], tm.tm_year + 1900, HourMinute(t).c_str());
}

std::string ExtremesTable(const std::string& caption, const std::array<Span, kQuantities>& spans, int detail) {
  std::string h = "<table><caption>" + HtmlEscape(caption) + "</caption><tr><th></th><th>Low</th><th>High</th></tr>";
  const auto cell = [&](const std::optional<double>& v, int64_t t, const char* unit, int decimals) {
    if (!v) return std::string("<td>&ndash;</td>");
    return "<td>" + Number(*v, decimals) + "&#8239;" + unit + "<br><small>" + When(t, detail) + "</small></td>";
  };
  const struct {
    Quantity q;
    const char* label;
    const char* unit;
    int decimals;
    bool low, high;
  } rows[] = {
      {Quantity::OutTemp, "Temperature", "°C", 1, true, true},
      {Quantity::DewPoint, "Dew point", "°C", 1, true, true},
      {Quantity::WindChill, "Wind chill", "°C", 1, true, false},
      {Quantity::HeatIndex, "Heat index", "°C", 1, false, true},
      {Quantity::Humidity, "Humidity", "%", 0, true, true},
      {Quantity::Pressure, "Pressure", "hPa", 1, true, true},
      {Quantity::Wind, "Gust", "km/h", 1, false, true},
      {Quantity::Rain, "Rain rate", "mm/h", 1, false, true},
  };
  for (const auto& r : rows) {
    const Span& s = Of(spans, r.q);
    h += std::string("<tr><th>") + r.label + "</th>";
    h += r.low ? cell(s.min, s.minTime, r.unit, r.decimals) : "<td></td>";
    h += r.high ? cell(s.max, s.maxTime, r.unit, r.decimals) : "<td></td>";
    h += "</tr>";
  }
  const Span& rain = Of(spans, Quantity::Rain);
  h += "<tr><th>Rain</th><td>" + Number(rain.sum, 1) + "&#8239;mm</td><td>";
  if (rain.wettest && detail > 0) {
    const std::tm tm = Tm(DayStart(rain.wettestDay));
    h += Format("wettest day %s&#8239;mm<br><small>%d %s", Number(*rain.wettest, 1).c_str(), tm.tm_mday,
                kMonthNames[tm.tm_mon]);
    if (detail > 1) h += Format(" %d", tm.tm_year + 1900);
    h += "</small>";
  }
  return h + "</td></tr></table>";
}

// ------------------------------------------------------------------ pages

double Value(const std::optional<double>& v) { return v ? *v : kNaN; }

ChartSeries Series(const std::vector<ArchiveRecord>& records, Field f, std::string name, uint32_t colour,
                   ChartSeries::Style style = ChartSeries::Style::Line) {
  ChartSeries s{std::move(name), colour, style, {}};
  s.points.reserve(records.size());
  for (const ArchiveRecord& r : records) s.points.emplace_back(r.time, Value(r[f]));
  return s;
}

// Day rows of one quantity as a series of the day's low, high, mean, sum or
// peak direction, each at the day's noon.
enum class DayPart : uint8_t { Low, High, Mean, Sum, PeakDir, MeanDir };
ChartSeries DaySeries(const std::vector<DayDelta>& rows, Quantity q, DayPart part, std::string name, uint32_t colour,
                      ChartSeries::Style style = ChartSeries::Style::Line) {
  ChartSeries s{std::move(name), colour, style, {}};
  for (const DayDelta& d : rows) {
    if (d.quantity != q) continue;
    double v = kNaN;
    switch (part) {
      case DayPart::Low:
        v = Value(d.min);
        break;
      case DayPart::High:
        v = Value(d.max);
        break;
      case DayPart::Mean:
        v = d.count > 0 ? d.sum / static_cast<double>(d.count) : kNaN;
        break;
      case DayPart::Sum:
        v = d.count > 0 ? d.sum : kNaN;
        break;
      case DayPart::PeakDir:
        v = Value(d.maxDir);
        break;
      case DayPart::MeanDir:
        v = d.xsum == 0 && d.ysum == 0 ? kNaN : std::fmod(std::atan2(d.xsum, d.ysum) * 180.0 / M_PI + 360.0, 360.0);
        break;
    }
    // Bars end at the day's end; lines and dots sit at noon.
    s.points.emplace_back(DayStart(d.day) + (style == ChartSeries::Style::Bars ? 86400 : 43200), v);
  }
  return s;
}

constexpr uint32_t kRed = 0xc0392b, kBlue = 0x2471a3, kGreen = 0x1e8449, kGrey = 0x7f8c8d, kPurple = 0x7d3c98;

std::vector<ChartSpec> Charts(ArchiveDb& db, HistoryPeriod period, int64_t from, int64_t to) {
  std::vector<ChartSpec> charts;
  const auto spec = [&](std::string title, std::string unit, int64_t gap) {
    ChartSpec c;
    c.title = std::move(title);
    c.unit = std::move(unit);
    c.from = from;
    c.to = to;
    c.gap = gap;
    return c;
  };
  using S = ChartSeries::Style;
  if (period == HistoryPeriod::Year) {
    const std::vector<DayDelta> rows = db.Days(ArchiveDay(from + 1), ArchiveDay(to));
    ChartSpec t = spec("Temperature", "°C", 2 * 86400);
    t.series = {DaySeries(rows, Quantity::OutTemp, DayPart::High, "high", kRed),
                DaySeries(rows, Quantity::OutTemp, DayPart::Mean, "mean", kGreen),
                DaySeries(rows, Quantity::OutTemp, DayPart::Low, "low", kBlue)};
    ChartSpec dp = spec("Dew point", "°C", 2 * 86400);
    dp.series = {DaySeries(rows, Quantity::DewPoint, DayPart::Mean, "mean", kGreen)};
    ChartSpec hu = spec("Humidity", "%", 2 * 86400);
    hu.fixedLow = 0, hu.fixedHigh = 100;
    hu.series = {DaySeries(rows, Quantity::Humidity, DayPart::High, "high", kRed),
                 DaySeries(rows, Quantity::Humidity, DayPart::Low, "low", kBlue)};
    ChartSpec p = spec("Pressure", "hPa", 2 * 86400);
    p.series = {DaySeries(rows, Quantity::Pressure, DayPart::High, "high", kRed),
                DaySeries(rows, Quantity::Pressure, DayPart::Low, "low", kBlue)};
    ChartSpec w = spec("Wind speed and gust", "km/h", 2 * 86400);
    w.fromZero = true;
    w.series = {DaySeries(rows, Quantity::Wind, DayPart::High, "gust", kRed),
                DaySeries(rows, Quantity::Wind, DayPart::Mean, "mean", kBlue)};
    ChartSpec d = spec("Wind direction", "°", 0);
    d.fixedLow = 0, d.fixedHigh = 360, d.compassAxis = true;
    d.series = {DaySeries(rows, Quantity::Wind, DayPart::MeanDir, "day's mean", kPurple, S::Dots)};
    ChartSpec r = spec("Rain per day", "mm", 0);
    r.fromZero = true, r.barWidth = 86400;
    r.series = {DaySeries(rows, Quantity::Rain, DayPart::Sum, "rain", kBlue, S::Bars)};
    return {t, dp, hu, p, w, d, r};
  }
  // The day from its records, longer periods from buckets of them.
  const int64_t bucket = period == HistoryPeriod::Day ? 0 : period == HistoryPeriod::Week ? 1800 : 3600;
  const std::vector<ArchiveRecord> records = bucket ? db.Buckets(from, to, bucket) : db.Records(from, to);
  const int64_t gap = bucket ? 3 * bucket : 3 * (records.empty() ? 300 : records.front().interval);
  ChartSpec t = spec("Temperature", "°C", gap);
  t.series = {Series(records, Field::OutTemp, "temperature", kRed),
              Series(records, Field::DewPoint, "dew point", kGreen)};
  if (period == HistoryPeriod::Day) t.series.push_back(Series(records, Field::WindChill, "chill", kBlue));
  ChartSpec hu = spec("Humidity", "%", gap);
  hu.fixedLow = 0, hu.fixedHigh = 100;
  hu.series = {Series(records, Field::Humidity, "humidity", kBlue)};
  ChartSpec p = spec("Pressure", "hPa", gap);
  p.series = {Series(records, Field::Pressure, "sea level", kGreen)};
  ChartSpec w = spec("Wind speed and gust", "km/h", gap);
  w.fromZero = true;
  w.series = {Series(records, Field::WindGust, "gust", kRed), Series(records, Field::WindSpeed, "speed", kBlue)};
  ChartSpec d = spec("Wind direction", "°", 0);
  d.fixedLow = 0, d.fixedHigh = 360, d.compassAxis = true;
  d.series = {Series(records, Field::WindDir, "direction", kPurple, S::Dots)};
  ChartSpec r = spec(period == HistoryPeriod::Day ? "Rain per hour" : "Rain per day", "mm", 0);
  r.fromZero = true;
  if (period == HistoryPeriod::Day) {
    r.barWidth = 3600;
    r.series = {Series(db.Buckets(from, to, 3600), Field::Rain, "rain", kBlue, S::Bars)};
  } else {
    r.barWidth = 86400;
    r.series = {
        DaySeries(db.Days(ArchiveDay(from + 1), ArchiveDay(to)), Quantity::Rain, DayPart::Sum, "rain", kBlue, S::Bars)};
  }
  return {t, hu, p, w, d, r};
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:0 auto;padding:8px;max-width:1400px;color:#222;background:#fff}"
    "h1{font-size:1.3em;margin:4px 0}nav a{margin-right:.8em;white-space:nowrap}"
    ".charts{display:grid;grid-template-columns:repeat(auto-fill,minmax(340px,1fr));gap:12px;margin-top:12px}"
    "figure{margin:0;border:1px solid #ddd;border-radius:4px;padding:4px}svg{width:100%;height:auto;display:block}"
    ".tables{display:flex;flex-wrap:wrap;gap:12px}table{border-collapse:collapse;font-size:.9em}"
    "caption{font-weight:bold;text-align:left;padding:4px 0}th,td{border:1px solid #ddd;padding:3px 6px;"
    "text-align:left;vertical-align:top}small{color:#666}";

}  // namespace

const char* HistoryFileName(HistoryPeriod period) {
  switch (period) {
    case HistoryPeriod::Day:
      return "history.html";
    case HistoryPeriod::Week:
      return "history-week.html";
    case HistoryPeriod::Month:
      return "history-month.html";
    case HistoryPeriod::Year:
      return "history-year.html";
  }
  return "history.html";
}

std::string HistoryPage(ArchiveDb& db, HistoryPeriod period, int64_t now, const std::string& stationName) {
  const std::tm tm = Tm(now);
  const int year = tm.tm_year + 1900, month = tm.tm_mon + 1;
  int64_t from = now - 86400, to = now;
  std::string heading = "the last 24 hours";
  if (period == HistoryPeriod::Week) from = now - 7 * 86400, heading = "the last 7 days";
  if (period == HistoryPeriod::Month) {
    from = SecondsOf(year, month, 1);
    to = SecondsOf(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1);
    heading = Format("%s %d", kMonthNames[month - 1], year);
  }
  if (period == HistoryPeriod::Year) {
    from = SecondsOf(year, 1, 1);
    to = SecondsOf(year + 1, 1, 1);
    heading = Format("%d", year);
  }
  const char* names[4] = {"Day", "Week", "Month", "Year"};
  std::string h =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>" +
      HtmlEscape(stationName) + ": " + heading + "</title><style>" + kStyle + "</style></head><body>\n<h1>" +
      HtmlEscape(stationName) + ": " + heading + "</h1>\n<nav>";
  for (int i = 0; i < 4; ++i) {
    const auto p = static_cast<HistoryPeriod>(i);
    h += p == period ? Format("<b>%s</b> ", names[i]) : Format("<a href=\"%s\">%s</a> ", HistoryFileName(p), names[i]);
  }
  h += Format(
      "<a href=\"index.html\">Now</a> <a href=\"NOAA-%04d-%02d.txt\">Month summary</a> "
      "<a href=\"NOAA-%04d.txt\">Year summary</a></nav>\n<div class=\"tables\">",
      year, month, year);
  // The calendar day's, month's or year's highs and lows; the year page adds
  // the records of the whole archive.
  const int today = ArchiveDay(now);
  if (period == HistoryPeriod::Day) h += ExtremesTable("Today", Combine(db.Days(today, today)), 0);
  if (period == HistoryPeriod::Week)
    h += ExtremesTable("The last 7 days", Combine(db.Days(ArchiveDay(now - 6 * 86400), today)), 1);
  if (period == HistoryPeriod::Month)
    h += ExtremesTable(heading, Combine(db.Days(year * 10000 + month * 100, year * 10000 + month * 100 + 99)), 1);
  if (period == HistoryPeriod::Year) {
    h += ExtremesTable(heading, Combine(db.Days(year * 10000, year * 10000 + 9999)), 1);
    h += ExtremesTable("All-time records", Combine(db.Days(0, 99999999)), 2);
  }
  h += "</div>\n<div class=\"charts\">\n";
  for (const ChartSpec& c : Charts(db, period, from, to)) h += "<figure>" + SvgChart(c) + "</figure>\n";
  return h + "</div>\n</body></html>\n";
}

// ------------------------------------------------------------------ summaries

namespace {

constexpr double kDegreeDayBase = 18.3;  // °C, the usual 65 °F

std::string Header(const std::string& title, const StationSettings& station) {
  const auto angle = [](double v, char pos, char neg, int width) {
    const double a = std::fabs(v);
    const int deg = static_cast<int>(a);
    return Format("%0*d-%05.2f %c", width, deg, (a - deg) * 60.0, v >= 0 ? pos : neg);
  };
  std::string h =
      Format("%*s%s\n\n\n", static_cast<int>(std::max<size_t>(0, (72 - title.size()) / 2)), "", title.c_str());
  h += "NAME: " + (station.name.empty() ? std::string("WX118 weather station") : station.name) + "\n";
  h += "ELEV: " + (station.altitudeM ? Number(*station.altitudeM, 0) + " m" : std::string("--"));
  h += "    LAT: " + (station.latitude ? angle(*station.latitude, 'N', 'S', 2) : std::string("--"));
  h += "    LONG: " + (station.longitude ? angle(*station.longitude, 'E', 'W', 3) : std::string("--"));
  return h + "\n\n";
}

std::string Cell(const std::optional<double>& v, int width, int decimals) {
  return v ? Format("%*s", width, Number(*v, decimals).c_str()) : Format("%*s", width, "--");
}

std::optional<double> Mean(const Span& s) {
  if (s.count == 0) return std::nullopt;
  return s.sum / static_cast<double>(s.count);
}

std::optional<double> MeanDirection(const Span& s) {
  if (s.xsum == 0 && s.ysum == 0) return std::nullopt;
  return std::atan2(s.xsum, s.ysum) * 180.0 / M_PI;
}

std::string DirCell(const std::optional<double>& deg) { return Format("%6s", deg ? Compass(*deg).c_str() : "--"); }

}  // namespace

std::string MonthSummary(ArchiveDb& db, int year, int month, const StationSettings& station) {
  const std::vector<DayDelta> rows = db.Days(year * 10000 + month * 100, year * 10000 + month * 100 + 99);
  std::string s = Header(Format("MONTHLY CLIMATOLOGICAL SUMMARY for %s %d", kMonthNames[month - 1], year), station);
  s += "                TEMPERATURE (C), RAIN (mm), WIND SPEED (km/h)\n\n"
       "                                      HEAT   COOL           AVG\n"
       "      MEAN                            DEG    DEG            WIND                  DOM\n"
       "DAY   TEMP   HIGH   TIME    LOW   TIME   DAYS   DAYS   RAIN  SPEED   HIGH   TIME    DIR\n";
  const std::string rule(88, '-');
  s += rule + "\n";
  std::map<int, std::vector<DayDelta>> byDay;
  for (const DayDelta& d : rows) byDay[d.day].push_back(d);
  double heat = 0, cool = 0, meanSum = 0;
  int meanDays = 0;
  int maxHot = 0, maxFreeze = 0, minFreeze = 0, minCold = 0;
  for (const auto& [day, dayRows] : byDay) {
    const auto sp = Combine(dayRows);
    const Span& t = Of(sp, Quantity::OutTemp);
    const Span& w = Of(sp, Quantity::Wind);
    const auto mean = Mean(t);
    std::optional<double> hdd, cdd;
    if (mean) {
      hdd = std::max(0.0, kDegreeDayBase - *mean);
      cdd = std::max(0.0, *mean - kDegreeDayBase);
      heat += *hdd;
      cool += *cdd;
      meanSum += *mean;
      ++meanDays;
    }
    if (t.max && *t.max >= 30.0) ++maxHot;
    if (t.max && *t.max <= 0.0) ++maxFreeze;
    if (t.min && *t.min <= 0.0) ++minFreeze;
    if (t.min && *t.min <= -18.0) ++minCold;
    s += Format("%02d ", day % 100) + Cell(mean, 6, 1) + Cell(t.max, 7, 1) +
         Format("%7s", t.max ? HourMinute(t.maxTime).c_str() : "--") + Cell(t.min, 7, 1) +
         Format("%7s", t.min ? HourMinute(t.minTime).c_str() : "--") + Cell(hdd, 7, 1) + Cell(cdd, 7, 1) +
         Cell(Of(sp, Quantity::Rain).count ? std::optional(Of(sp, Quantity::Rain).sum) : std::nullopt, 7, 1) +
         Cell(Mean(w), 7, 1) + Cell(w.max, 7, 1) + Format("%7s", w.max ? HourMinute(w.maxTime).c_str() : "--") +
         DirCell(MeanDirection(w)) + "\n";
  }
  s += rule + "\n";
  const auto all = Combine(rows);
  const Span& t = Of(all, Quantity::OutTemp);
  const Span& w = Of(all, Quantity::Wind);
  const Span& rain = Of(all, Quantity::Rain);
  const auto dayOf = [](int64_t when) { return Format("%7d", Tm(when).tm_mday); };
  s += "   " + Cell(meanDays ? std::optional(meanSum / meanDays) : std::nullopt, 6, 1) + Cell(t.max, 7, 1) +
       (t.max ? dayOf(t.maxTime) : Format("%7s", "--")) + Cell(t.min, 7, 1) +
       (t.min ? dayOf(t.minTime) : Format("%7s", "--")) + Cell(heat, 7, 1) + Cell(cool, 7, 1) + Cell(rain.sum, 7, 1) +
       Cell(Mean(w), 7, 1) + Cell(w.max, 7, 1) + (w.max ? dayOf(w.maxTime) : Format("%7s", "--")) +
       DirCell(MeanDirection(w)) + "\n\n";
  s += Format("Max >=  30.0: %3d\nMax <=   0.0: %3d\nMin <=   0.0: %3d\nMin <= -18.0: %3d\n", maxHot, maxFreeze,
              minFreeze, minCold);
  s += "Max rain: " +
       (rain.wettest && *rain.wettest > 0
            ? Number(*rain.wettest, 1) + " mm on day " + std::to_string(rain.wettestDay % 100)
            : std::string("--")) +
       "\n";
  s += Format("Days of rain: %d (>= 0.2 mm)  %d (>= 2.0 mm)  %d (>= 20.0 mm)\n", rain.daysOver[0], rain.daysOver[1],
              rain.daysOver[2]);
  s += "Heat base: 18.3  Cool base: 18.3  Method: mean of the day's records\n";
  return s;
}

std::string YearSummary(ArchiveDb& db, int year, const StationSettings& station) {
  const std::vector<DayDelta> rows = db.Days(year * 10000, year * 10000 + 9999);
  std::map<int, std::vector<DayDelta>> byMonth;
  for (const DayDelta& d : rows) byMonth[d.day / 100 % 100].push_back(d);
  std::string s = Header(Format("CLIMATOLOGICAL SUMMARY for year %d", year), station);
  const std::string rule(94, '-');
  s += "                                  TEMPERATURE (C)\n\n"
       "                                                      HEAT    COOL    MAX    MAX    MIN    MIN\n"
       "         MEAN   MEAN                                  DEG     DEG     >=     <=     <=     <=\n"
       " YR  MO   MAX    MIN   MEAN   HIGH DAY    LOW DAY     DAYS    DAYS   30.0    0.0    0.0  -18.0\n" +
       rule + "\n";
  // Per month: the means of the days' highs, lows and means, the extremes,
  // degree days and the counts of hot and frosty days.
  struct MonthTemp {
    double maxSum = 0, minSum = 0, meanSum = 0, heat = 0, cool = 0;
    int maxN = 0, minN = 0, meanN = 0, counts[4] = {0, 0, 0, 0};
  };
  MonthTemp yearT;
  std::string rainText, windText;
  const auto dayCell = [](const std::optional<double>& v, int64_t t) {
    return v ? Format("%4d", Tm(t).tm_mday) : std::string("  --");
  };
  for (const auto& [month, monthRows] : byMonth) {
    MonthTemp m;
    std::map<int, std::vector<DayDelta>> byDay;
    for (const DayDelta& d : monthRows) byDay[d.day].push_back(d);
    for (const auto& [day, dayRows] : byDay) {
      const Span t = Of(Combine(dayRows), Quantity::OutTemp);
      if (t.max) m.maxSum += *t.max, ++m.maxN, m.counts[0] += *t.max >= 30.0, m.counts[1] += *t.max <= 0.0;
      if (t.min) m.minSum += *t.min, ++m.minN, m.counts[2] += *t.min <= 0.0, m.counts[3] += *t.min <= -18.0;
      if (const auto mean = Mean(t)) {
        m.meanSum += *mean, ++m.meanN;
        m.heat += std::max(0.0, kDegreeDayBase - *mean);
        m.cool += std::max(0.0, *mean - kDegreeDayBase);
      }
    }
    const auto sp = Combine(monthRows);
    const Span& t = Of(sp, Quantity::OutTemp);
    const auto avg = [](double sum, int n) { return n ? std::optional(sum / n) : std::nullopt; };
    s += Format("%d %02d", year, month) + Cell(avg(m.maxSum, m.maxN), 6, 1) + Cell(avg(m.minSum, m.minN), 7, 1) +
         Cell(avg(m.meanSum, m.meanN), 7, 1) + Cell(t.max, 7, 1) + dayCell(t.max, t.maxTime) + Cell(t.min, 7, 1) +
         dayCell(t.min, t.minTime) + Cell(m.heat, 9, 1) + Cell(m.cool, 8, 1) +
         Format("%7d%7d%7d%7d\n", m.counts[0], m.counts[1], m.counts[2], m.counts[3]);
    yearT.maxSum += m.maxSum, yearT.maxN += m.maxN, yearT.minSum += m.minSum, yearT.minN += m.minN;
    yearT.meanSum += m.meanSum, yearT.meanN += m.meanN, yearT.heat += m.heat, yearT.cool += m.cool;
    for (int i = 0; i < 4; ++i) yearT.counts[i] += m.counts[i];
    const Span& rain = Of(sp, Quantity::Rain);
    rainText += Format("%d %02d", year, month) + Cell(rain.sum, 9, 1) + Cell(rain.wettest, 9, 1) +
                Format("%6s", rain.wettest ? std::to_string(rain.wettestDay % 100).c_str() : "--") +
                Format("%7d%7d%7d\n", rain.daysOver[0], rain.daysOver[1], rain.daysOver[2]);
    const Span& w = Of(sp, Quantity::Wind);
    windText += Format("%d %02d", year, month) + Cell(Mean(w), 8, 1) + Cell(w.max, 8, 1) +
                Format("%6s", w.max ? std::to_string(Tm(w.maxTime).tm_mday).c_str() : "--") +
                DirCell(MeanDirection(w)) + "\n";
  }
  const auto all = Combine(rows);
  const Span& t = Of(all, Quantity::OutTemp);
  const auto avg = [](double sum, int n) { return n ? std::optional(sum / n) : std::nullopt; };
  const auto monthOf = [](const std::optional<double>& v, int64_t when) {
    return v ? Format("%4s", kMonthNames[Tm(when).tm_mon]) : std::string("  --");
  };
  s += rule + "\n       " + Cell(avg(yearT.maxSum, yearT.maxN), 6, 1) + Cell(avg(yearT.minSum, yearT.minN), 7, 1) +
       Cell(avg(yearT.meanSum, yearT.meanN), 7, 1) + Cell(t.max, 7, 1) + monthOf(t.max, t.maxTime) + Cell(t.min, 7, 1) +
       monthOf(t.min, t.minTime) + Cell(yearT.heat, 9, 1) + Cell(yearT.cool, 8, 1) +
       Format("%7d%7d%7d%7d\n", yearT.counts[0], yearT.counts[1], yearT.counts[2], yearT.counts[3]);
  const Span& rain = Of(all, Quantity::Rain);
  s += "\n\n                                  RAIN (mm)\n\n"
       "                    MAX         ---DAYS OF RAIN---\n"
       "                    OBS.        OVER\n"
       " YR  MO    TOTAL      DAY  DATE    0.2    2.0   20.0\n" +
       std::string(52, '-') + "\n" + rainText + std::string(52, '-') + "\n       " + Cell(rain.sum, 9, 1) +
       Cell(rain.wettest, 9, 1) + Format("%6s", rain.wettest ? kMonthNames[rain.wettestDay / 100 % 100 - 1] : "--") +
       Format("%7d%7d%7d\n", rain.daysOver[0], rain.daysOver[1], rain.daysOver[2]);
  const Span& w = Of(all, Quantity::Wind);
  s += "\n\n                                  WIND SPEED (km/h)\n\n"
       "                                   DOM\n"
       " YR  MO      AVG     HIGH  DATE    DIR\n" +
       std::string(38, '-') + "\n" + windText + std::string(38, '-') + "\n       " + Cell(Mean(w), 8, 1) +
       Cell(w.max, 8, 1) + Format("%6s", w.max ? kMonthNames[Tm(w.maxTime).tm_mon] : "--") + DirCell(MeanDirection(w)) +
       "\n";
  return s;
}

}  // namespace wx
