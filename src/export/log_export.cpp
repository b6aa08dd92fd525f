// SPDX-License-Identifier: GPL-2.0-or-later
#include "export/log_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "channels/channel_table.h"
#include "datalog/records.h"
#include "datalog/stamps.h"
#include "onewire/decoding.h"
#include "platform/text_encoding.h"
#include "weather/weather.h"
#include "weather/weather_fields.h"

namespace wx {
namespace {

constexpr size_t kFlushAt = 256 * 1024;
constexpr std::string_view kCsvHeader =
    "time,tag,channel,raw,value,unit,text,bin0,bin1,bin2,bin3,bin4,bin5,bin6,bin7,bin8,bin9,bin10,"
    "bin11,bin12,bin13,bin14,bin15,bin16\n";
constexpr int kCsvColumns = 24;
// Wind bins are below 256 and many counts small: their digits by hand.
[[gnu::noinline]] char* Large(char* p, int64_t v) { return std::to_chars(p, p + 24, v).ptr; }
inline char* SmallFirst(char* p, int64_t v) {
  if (v < 0 || v >= 1000) return Large(p, v);
  if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
  if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
  *p++ = static_cast<char>('0' + v % 10);
  return p;
}

char* Copy(char* p, std::string_view s) {
  if (!s.empty()) std::memcpy(p, s.data(), s.size());  // an empty view may carry a null pointer
  return p + s.size();
}

constexpr int8_t kNotHex = -1;
constexpr std::array<int8_t, 256> kHex = [] {
  std::array<int8_t, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[static_cast<size_t>(c)] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                                : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                                                       : kNotHex;
  return t;
}();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr std::string_view kCommas = ",,,,,,,,,,,,,,,,,,,,,,,,";
static_assert(kCommas.size() == kCsvColumns);


}  // namespace

std::optional<int> ParseExportDate(std::string_view t) {
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return std::nullopt;
  int y = 0, m = 0, d = 0;
  if (std::from_chars(t.data(), t.data() + 4, y).ptr != t.data() + 4 ||
      std::from_chars(t.data() + 5, t.data() + 7, m).ptr != t.data() + 7 ||
      std::from_chars(t.data() + 8, t.data() + 10, d).ptr != t.data() + 10)
    return std::nullopt;
  if (!EncodeDateTime(y, m, d)) return std::nullopt;
  return y * 10000 + m * 100 + d;
}

bool ParseExportChannels(std::string_view list, ExportOptions& options, std::string& error) {
  const std::string given(list);
  options.channels.fill(false);
  options.comments = false;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    item = Trim(item);
    if (item.empty()) continue;
    int ch = ChannelOfTag(item).value_or(-1);
    for (int c = 0; c < kChannels && ch < 0; ++c) {
      const std::string_view name = Channel(c).name;
      if (item.size() == name.size() &&
          std::equal(item.begin(), item.end(), name.begin(), [](char a, char b) { return (a | 0x20) == (b | 0x20); }))
        ch = c;
    }
    if (ch < 0) {
      int n = -1;
      const auto r = std::from_chars(item.data(), item.data() + item.size(), n);
      if (r.ec == std::errc() && r.ptr == item.data() + item.size() && n >= 0 && n <= 12) ch = n;
    }
    if (item == "comments") {
      options.comments = true;
    } else if (ch < 0) {
      error = "unknown channel \"" + std::string(item) +
              "\" (names: T0..T4, rain, wind_speed, lightning, pressure, humidity, wind_direction, onoff1, "
              "onoff2, comments; or log tags, or numbers 0..12)";
      return false;
    } else {
      options.channels[ch] = true;
    }
  }
  // An empty selection would export nothing but the header.
  if (!options.comments && std::find(options.channels.begin(), options.channels.end(), true) == options.channels.end()) {
    error = "--channels \"" + given + "\" names no channel";
    return false;
  }
  return true;
}

// The log's readings go through the same weather engine as the live ones.
struct LogExporter::Derived : ErrorSink {
  Derived(const ExportOptions& o, const Sink& problem)
      : problem(problem), settings(WithUnits(o.units)), weather(settings, o.station, *this) {}
  static Settings WithUnits(const UnitsConfig& units) {
    Settings s;
    s.units = units;
    return s;
  }
  void ShowError(const std::string& message) override { problem(message); }
  const Sink& problem;
  Settings settings;
  Weather weather;
  DateTime last = 0;  // the latest reading's time
};

LogExporter::LogExporter(ExportOptions options, Sink write, Sink problem)
    : options_(std::move(options)), write_(std::move(write)), problem_(std::move(problem)) {
  out_.resize(kFlushAt + 64 * 1024);
  const bool csv = options_.format == ExportOptions::Format::Csv;
  const auto pad = [](Padded& to, const std::string& text) { to.size = text.copy(to.text, sizeof to.text); };
  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string tag(Channel(ch).tag), name(Channel(ch).name);
    pad(heads_[static_cast<size_t>(ch)],
        csv ? "," + tag + "," + name + "," : "\",\"tag\":\"" + tag + "\",\"channel\":\"" + name + "\",\"raw\":");
  }
  // CSV: the empty value and unit, then the rest of the columns.
  pad(plainEnd_, csv ? std::string(kCsvColumns - 4, ',') + "\n" : "}\n");
  if (options_.derived) derived_ = std::make_unique<Derived>(options_, problem_);
}

LogExporter::~LogExporter() = default;

void LogExporter::Derive(const RecordLine& record) {
  Derived& d = *derived_;
  const DateTime t = *record.time;
  if (d.last != 0 && DatePart(t) != DatePart(d.last)) DerivedRows();
  Reading r;
  r.channel = record.channel;
  r.when = t;
  r.raw = record.celsius ? double(*record.celsius) : double(*record.count);
  d.weather.OnReading(r);
  d.last = t;
}

void LogExporter::DerivedRows() {
  const Derived& d = *derived_;
  const DateTimeParts p = DecodeDateTime(d.last);
  const int date = p.year * 10000 + p.month * 100 + p.day;
  if ((options_.fromDate && date < *options_.fromDate) || (options_.toDate && date > *options_.toDate)) return;
  const WeatherValues v = d.weather.Snapshot(d.last);
  if (v.rainTodayMm) DerivedRow("rain_day", TimedValue{*v.rainTodayMm, d.last}, 2, "mm");
  for (int ch = 0; ch < 5; ++ch) {
    const std::string name(Channel(ch).name);
    DerivedRow(name + "_low", v.temperatureDay[size_t(ch)].low, 2, "°C");
    DerivedRow(name + "_high", v.temperatureDay[size_t(ch)].high, 2, "°C");
  }
  DerivedRow("humidity_low", v.humidityDay.low, 0, "%");
  DerivedRow("humidity_high", v.humidityDay.high, 0, "%");
  DerivedRow("pressure_low", v.pressureDay.low, 1, "hPa");
  DerivedRow("pressure_high", v.pressureDay.high, 1, "hPa");
}

void LogExporter::DerivedRow(std::string_view name, const std::optional<TimedValue>& v, int decimals,
                             std::string_view unit) {
  if (!v) return;
  ++rows_;
  const std::string time = IsoLocalTime(v->when);
  const std::string value = RoundedNumber(v->value, decimals);
  if (options_.format == ExportOptions::Format::Csv) {
    Put(time + ",dv," + std::string(name) + ",," + value + "," + std::string(unit));
    Put(kCommas.substr(0, static_cast<size_t>(kCsvColumns - 6)));
    Put('\n');
  } else {
    Put("{\"time\":\"" + time + "\",\"tag\":\"dv\",\"channel\":\"" + std::string(name) +
        "\",\"value\":" + value + ",\"unit\":" + JsonString(unit) + "}\n");
  }
  FlushIfFull();
}

void LogExporter::Grow(size_t more) { out_.resize(std::max(out_.size() * 2, used_ + more)); }

void LogExporter::Feed(std::string_view bytes) {
  Header();
  while (!bytes.empty()) {
    const void* hit = std::memchr(bytes.data(), '\n', bytes.size());
    const size_t n = hit ? static_cast<size_t>(static_cast<const char*>(hit) - bytes.data()) : bytes.size();
    const std::string_view piece = bytes.substr(0, n);
    if (!hit) {
      // Part of a line: kept until its end arrives, unless it is too long to be a record.
      if (!overlong_ && carry_.size() + piece.size() <= kMaxLine) {
        carry_.append(piece);
      } else if (!overlong_) {
        overlong_ = true;
        ++lineNumber_;
        Skip("longer than any record", carry_.empty() ? piece : std::string_view(carry_));
        carry_.clear();
      }
      break;
    }
    bytes.remove_prefix(n + 1);
    if (overlong_) {
      overlong_ = false;  // the end of the line already reported
      continue;
    }
    ++lineNumber_;
    if (carry_.empty()) {
      Line(piece);
    } else if (carry_.size() + piece.size() > kMaxLine) {
      Skip("longer than any record", carry_);
      carry_.clear();
    } else {
      carry_.append(piece);
      Line(carry_);
      carry_.clear();
    }
    FlushIfFull();
  }
}

void LogExporter::Finish() {
  Header();
  if (!carry_.empty() && !overlong_) {
    ++lineNumber_;
    Line(carry_);
  }
  carry_.clear();
  overlong_ = false;
  if (derived_ && derived_->last != 0) {
    DerivedRows();  // the last day, as far as the log goes
    derived_->last = 0;
  }
  if (used_) write_(std::string_view(out_.data(), used_));
  used_ = 0;
}

void LogExporter::Header() {
  if (headerDone_) return;
  headerDone_ = true;
  if (options_.format == ExportOptions::Format::Csv) Put(kCsvHeader);
}

void LogExporter::FlushIfFull() {
  if (used_ < kFlushAt) return;
  write_(std::string_view(out_.data(), used_));
  used_ = 0;
}

void LogExporter::Skip(std::string_view why, std::string_view line) {
  ++skipped_;
  std::string shown(line.substr(0, 60));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  problem_("line " + std::to_string(lineNumber_) + ": " + std::string(why) + ", skipped: \"" + ToUtf8(shown) +
           (line.size() > 60 ? "...\"" : "\""));
}

namespace {

// Half past the hour in local time, through mktime (which normalises a day
// past the month's end); false when mktime cannot place it.
bool HalfPast(int year, int month, int day, int hour, int isdst, std::tm& tm) {
  tm = std::tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = 30;
  tm.tm_isdst = isdst;
  return std::mktime(&tm) != static_cast<std::time_t>(-1);
}

HourOffsets OffsetsOf(int year, int month, int day, int hour) {
  const auto at = [&](int isdst, bool& kept) {
    std::tm tm;
    kept = HalfPast(year, month, day, hour, isdst, tm);
    // A flag that does not fit the date moves the wall clock: no such time.
    kept = kept && tm.tm_hour == hour && tm.tm_mday == day;
    return kept ? tm.tm_gmtoff : 0L;
  };
  bool any = false, summer = false, winter = false;
  HourOffsets r;
  r.first = r.second = at(-1, any);
  const long s = at(1, summer), w = at(0, winter);
  if (summer && winter && s != w) {
    r.first = std::max(s, w);
    r.second = std::min(s, w);
  }
  return r;
}

// The offset in force at half past the hour.
long OffsetAt(int year, int month, int day, int hour) {
  std::tm tm;
  return HalfPast(year, month, day, hour, -1, tm) ? tm.tm_gmtoff : 0L;
}

void PutOffset(long offset, char* at) {
  at[0] = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  // Real offsets stay within a day.
  const int hours = static_cast<int>(offset / 3600 % 100), minutes = static_cast<int>(offset / 60 % 60);
  at[1] = static_cast<char>('0' + hours / 10);
  at[2] = static_cast<char>('0' + hours % 10);
  at[3] = ':';
  at[4] = static_cast<char>('0' + minutes / 10);
  at[5] = static_cast<char>('0' + minutes % 10);
}

}  // namespace

void LogExporter::TakeTime(std::string_view line) {
  const char* st = line.data() + 2;
  if (lastStampValid_ && std::memcmp(lastStamp_, st, 8) == 0) return;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  // Within one day and hour only the minute changes: the date was checked
  // and the offset found for the first stamp of that hour.
  const bool sameHour = lastStampValid_ && std::memcmp(lastStamp_, st, 6) == 0;
  if (sameHour && digit(st[6]) && digit(st[7]) && st[6] <= '5') {
    // Records are in order: in a repeated hour, a minute earlier than the
    // last one is the hour's second pass.
    if (!secondPass_ && offsets_.first != offsets_.second && std::memcmp(st + 6, lastStamp_ + 6, 2) < 0) {
      secondPass_ = true;
      PutOffset(offsets_.second, iso_ + 19);
    }
  } else {
    char ten[10];
    std::memcpy(ten, st, 8);
    ten[8] = ten[9] = ' ';
    const StampFields f = *PGDTtoVars(std::string_view(ten, 10));
    const int year = StampFullYear(f.year, options_.presentYear);
    // The stamp is local wall-clock time; the offset is the one in force then.
    // Clocks change on a few days a year: a day with the same offset at its
    // start and at the next day's needs one look, not three per hour.
    const int day = year * 10000 + f.month * 100 + f.day;
    if (day != checkedDay_) {
      checkedDay_ = day;
      const long start = OffsetAt(year, f.month, f.day, 0);
      steadyDay_ = start == OffsetAt(year, f.month, f.day + 1, 0) ? day : 0;
      steadyOffset_ = start;
    }
    offsets_ = steadyDay_ == day ? HourOffsets{steadyOffset_, steadyOffset_} : OffsetsOf(year, f.month, f.day, f.hour);
    secondPass_ = false;
    // The fields are in range, as the record reader checked; the roomy
    // buffer only keeps the compiler sure nothing can be cut short.
    char text[96] = {};
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:00:00", year, f.month, f.day, f.hour);
    std::memcpy(iso_, text, 19);
    PutOffset(offsets_.first, iso_ + 19);
    isoLength_ = 25;
    date_ = year * 10000 + f.month * 100 + f.day;
    inRange_ = (!options_.fromDate || date_ >= *options_.fromDate) && (!options_.toDate || date_ <= *options_.toDate);
  }
  iso_[14] = st[6];
  iso_[15] = st[7];
  std::memcpy(lastStamp_, st, 8);
  lastStampValid_ = true;
}

void LogExporter::Key(std::string_view key) {
  Put(",\"");
  Put(key);
  Put("\":");
}

void LogExporter::BeginRow(std::string_view tag, bool timed) {
  ++rows_;
  const std::string_view time = timed ? std::string_view(iso_, isoLength_) : std::string_view{};
  if (options_.format == ExportOptions::Format::Csv) {
    Put(time);
    Put(',');
    Put(tag);
    Put(',');
  } else {
    if (time.empty()) {
      Put("{\"time\":null");
    } else {
      Put("{\"time\":\"");
      Put(time);
      Put('"');
    }
    Key("tag");
    Put('"');
    Put(tag);
    Put('"');
  }
}

void LogExporter::Number(double v, int decimals) {
  if (v == 0) v = 0;  // no "-0.00"
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {
    Put('0');
    return;
  }
  char* end = r.ptr;
  if (decimals > 2) {
    // Physical values: no trailing zeros beyond what they need.
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
  }
  if (end - buf == 2 && buf[0] == '-' && buf[1] == '0') {
    Put('0');
    return;
  }
  Put(std::string_view(buf, static_cast<size_t>(end - buf)));
}

void LogExporter::Raw(double raw, int channel) {
  if (!IsKind(channel, ChannelKind::Temperature)) {
    Integer(static_cast<int64_t>(raw));
    return;
  }
  // Hundredths of a degree, as the log holds them: "21.50", "-3.25".
  int64_t h = std::llround(raw * 100.0);
  if (h < 0) {
    Put('-');
    h = -h;
  }
  Integer(h / 100);
  Put('.');
  Put(static_cast<char>('0' + (h / 10) % 10));
  Put(static_cast<char>('0' + h % 10));
}

void LogExporter::Integer(int64_t v) {
  if (out_.size() - used_ < 24) Grow(24);
  char* p = out_.data() + used_;
  used_ = static_cast<size_t>(SmallFirst(p, v) - out_.data());
}

void LogExporter::Text(std::string_view text) {
  Put(options_.format == ExportOptions::Format::Csv ? CsvField(text) : JsonString(text));
}

void LogExporter::Unit(int channel, const std::string& unit) {
  // A channel's unit is the same on every row: escaped once.
  UnitText& u = units_[static_cast<size_t>(channel)];
  if (!u.known || u.unit != unit) {
    u.known = true;
    u.unit = unit;
    u.text = options_.format == ExportOptions::Format::Csv ? CsvField(unit) : JsonString(unit);
  }
  Put(u.text);
}

void LogExporter::EndRow(int columnsWritten) {
  if (options_.format == ExportOptions::Format::Csv) {
    Put(kCommas.substr(0, static_cast<size_t>(kCsvColumns - columnsWritten)));
    Put('\n');
  } else {
    Put("}\n");
  }
}

void LogExporter::ReadingHead(int channel) {
  ++rows_;
  const Padded& head = heads_[static_cast<size_t>(channel)];
  char* p = Room(16 + sizeof iso_ + sizeof head.text);
  if (options_.format == ExportOptions::Format::Jsonl) p = Copy(p, "{\"time\":\"");
  std::memcpy(p, iso_, sizeof iso_);
  p += isoLength_;
  std::memcpy(p, head.text, sizeof head.text);
  used_ = static_cast<size_t>(p + head.size - out_.data());
}

void LogExporter::ValueAndEnd(int channel, double raw) {
  std::optional<PhysicalValue> physical;
  if (options_.units.present) physical = ToPhysical(options_.units, channel, raw);
  if (!physical) {
    std::memcpy(Room(sizeof plainEnd_.text), plainEnd_.text, sizeof plainEnd_.text);
    used_ += plainEnd_.size;
  } else if (options_.format == ExportOptions::Format::Csv) {
    Put(',');
    Number(physical->value, 4);
    Put(',');
    Unit(channel, physical->unit);
    EndRow(6);
  } else {
    Key("value");
    Number(physical->value, 4);
    Key("unit");
    Unit(channel, physical->unit);
    EndRow(0);
  }
}

void LogExporter::WindRest(const std::array<uint16_t, 17>& bins, uint8_t mostFrequent) {
  // A histogram with no valid reading has no direction.
  const bool none = mostFrequent >= 16 || bins[mostFrequent] == 0;
  const std::string_view name = none ? std::string_view{} : CompassPoint(mostFrequent, options_.windOffset);
  char* p = Room(256);
  p = SmallFirst(p, none ? 16 : mostFrequent);
  if (options_.format == ExportOptions::Format::Csv) {
    p = Copy(Copy(p, ",,,"), name);
    for (uint16_t b : bins) {
      *p++ = ',';
      p = SmallFirst(p, b);
    }
    *p++ = '\n';
  } else {
    p = Copy(p, ",\"direction\":");
    p = none ? Copy(p, "null") : Copy(Copy(Copy(p, "\""), name), "\"");
    p = Copy(p, ",\"bins\":[");
    for (size_t i = 0; i < bins.size(); ++i) {
      if (i) *p++ = ',';
      p = SmallFirst(p, bins[i]);
    }
    p = Copy(p, "]}\n");
  }
  used_ = static_cast<size_t>(p - out_.data());
}

bool LogExporter::QuickReading(std::string_view line) {
  if (line.size() < 14 || !lastStampValid_) return false;
  const char* s = line.data();
  // Most lines are temperatures, t0..t4.
  int channel = s[0] == 't' && s[1] >= '0' && s[1] <= '4' ? s[1] - '0' : 5;
  while (channel < kChannels && (Channel(channel).tag[0] != s[0] || Channel(channel).tag[1] != s[1])) ++channel;
  if (channel == kChannels || line.size() != Channel(channel).recordLength) return false;
  // The date and hour of a stamp already read, and a minute 00..59: a real time.
  if (std::memcmp(lastStamp_, s + 2, 6) != 0 || !IsDigit(s[8]) || !IsDigit(s[9]) || s[8] > '5') return false;
  const ChannelKind kind = Channel(channel).kind;
  const char* field = s + 10;
  const size_t width = line.size() - 10;
  std::array<uint16_t, 17> bins;
  uint8_t mostFrequent = 0;
  if (kind == ChannelKind::WindDirection) {
    int bad = 0, most = -1;
    for (size_t i = 0; i < bins.size(); ++i) {
      const int hi = kHex[static_cast<unsigned char>(field[2 * i])],
                lo = kHex[static_cast<unsigned char>(field[2 * i + 1])];
      bad |= hi | lo;
      const int b = hi * 16 + lo;
      bins[i] = static_cast<uint16_t>(b);
      // The last of the most frequent, as MostFrequentWindIndex picks it.
      if (b >= most) {
        most = b;
        mostFrequent = static_cast<uint8_t>(i);
      }
    }
    if (bad < 0) return false;
  } else if (kind == ChannelKind::Temperature) {
    if ((field[0] != '+' && field[0] != '-') || !IsDigit(field[1]) || !IsDigit(field[2]) || !IsDigit(field[3]) ||
        !IsDigit(field[4]))
      return false;
  } else {
    // An unsigned count in at most nine digits fits the reader's 32 bits.
    if (width > 9) return false;
    for (size_t i = 0; i < width; ++i)
      if (!IsDigit(field[i])) return false;
  }
  TakeTime(line);
  if (!options_.channels[static_cast<size_t>(channel)] || !InRange()) return true;
  ReadingHead(channel);
  if (kind == ChannelKind::WindDirection) {
    WindRest(bins, mostFrequent);
    return true;
  }
  char* p = Room(16);
  double raw = 0;
  if (kind == ChannelKind::Temperature) {
    // "+2150" is 21.50, "-0325" -3.25 and "-0000" 0.00, as Raw writes them.
    const int h = (field[1] - '0') * 1000 + (field[2] - '0') * 100 + (field[3] - '0') * 10 + (field[4] - '0');
    if (field[0] == '-' && h != 0) *p++ = '-';
    if (field[1] != '0') *p++ = field[1];
    *p++ = field[2];
    *p++ = '.';
    *p++ = field[3];
    *p++ = field[4];
    if (options_.units.present) raw = static_cast<float>((field[0] == '-' ? -h : h) / 100.0);
  } else {
    size_t first = 0;
    while (first + 1 < width && field[first] == '0') ++first;
    p = Copy(p, std::string_view(field + first, width - first));
    if (options_.units.present) {
      int32_t count = 0;
      for (size_t i = first; i < width; ++i) count = count * 10 + (field[i] - '0');
      raw = count;
    }
  }
  used_ = static_cast<size_t>(p - out_.data());
  ValueAndEnd(channel, raw);
  return true;
}

void LogExporter::Line(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) return;
  if (!derived_ && options_.quickReadings && QuickReading(line)) return;
  const bool csv = options_.format == ExportOptions::Format::Csv;
  const RecordLine record = ReadRecordLine(line, options_.presentYear, &stampMemo_);
  const std::string_view tag = record.tag;
  const int channel = record.channel;

  if (channel < 0) {
    if (!record.freeText) {
      Skip("not a record of the data log", line);
      return;
    }
    const bool timed = record.time.has_value();
    if (timed) TakeTime(line);
    std::string_view text = TrimLeft(record.text);
    if (timed && tag == "wo") {
      // "- - Wind Dir Offset:9. ..." names the vane offset of the records after it.
      const size_t at = text.find("Offset:");
      int v = -1;
      if (at != std::string_view::npos)
        std::from_chars(text.data() + at + 7, text.data() + text.size(), v);
      if (v >= 0 && v <= 15) options_.windOffset = static_cast<uint8_t>(v);
    }
    if (!options_.comments) return;
    if (!timed && (options_.fromDate || options_.toDate)) return;
    if (timed && !InRange()) return;
    BeginRow(tag, timed);
    if (csv) {
      Put(",,,,");
      Text(text);
      EndRow(7);
    } else {
      Key("text");
      Text(text);
      EndRow(0);
    }
    return;
  }

  if (record.fault == RecordFault::CutShort || record.fault == RecordFault::TooLong) {
    Skip(record.fault == RecordFault::CutShort ? "cut short" : "longer than its record", line);
    return;
  }
  if (record.fault == RecordFault::BadStamp) {
    Skip("its date/time stamp is not a real date and time", line);
    return;
  }
  TakeTime(line);
  if (derived_ && record.fault == RecordFault::None && Channel(channel).kind != ChannelKind::WindDirection)
    Derive(record);
  if (!options_.channels[channel] || !InRange()) return;
  const ChannelKind kind = Channel(channel).kind;
  if (record.fault == RecordFault::BadValue) {
    Skip(kind == ChannelKind::WindDirection ? "its wind bins are not hexadecimal"
         : kind == ChannelKind::Temperature ? "its temperature is not a number"
                                            : "its value is not a whole number",
         line);
    return;
  }

  if (kind == ChannelKind::WindDirection) {
    ReadingHead(channel);
    WindRest(*record.bins, MostFrequentWindIndex(*record.bins));
    return;
  }

  const double raw = kind == ChannelKind::Temperature ? double(*record.celsius) : double(*record.count);
  ReadingHead(channel);
  Raw(raw, channel);
  ValueAndEnd(channel, raw);
}

}  // namespace wx
