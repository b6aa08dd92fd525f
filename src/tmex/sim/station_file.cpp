// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/sim/station_file.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace wx {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::optional<double> Number(const std::string& s) {
  if (s.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long long> Integer(const std::string& s) {
  if (s.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end != s.c_str() + s.size()) return std::nullopt;
  return v;
}

// Seconds; a bare number is seconds, suffixes s, m, h, d.
std::optional<double> Duration(std::string s) {
  double unit = 1;
  if (!s.empty()) {
    switch (std::tolower(static_cast<unsigned char>(s.back()))) {
      case 's': unit = 1; s.pop_back(); break;
      case 'm': unit = 60; s.pop_back(); break;
      case 'h': unit = 3600; s.pop_back(); break;
      case 'd': unit = 86400; s.pop_back(); break;
      default: break;
    }
  }
  auto v = Number(s);
  if (!v) return std::nullopt;
  return *v * unit;
}

struct Parser {
  const Clock& clock;
  std::unique_ptr<SimNetwork> net;
  std::vector<std::string> errors;
  int line = 0;
  bool haveAdapter = false;
  uint64_t autoSerial = 1;

  void Fail(const std::string& what) { errors.push_back("line " + std::to_string(line) + ": " + what); }

  // tokens[from..] as a program; nullopt after reporting what is wrong.
  std::optional<ValueProgram> Program(const std::vector<std::string>& t, size_t from) {
    if (from >= t.size()) {
      Fail("value program missing (const, ramp, sine, steps or walk)");
      return std::nullopt;
    }
    const std::string kind = Lower(t[from]);
    const size_t n = t.size() - from - 1;
    auto num = [&](size_t i, const char* what) -> std::optional<double> {
      auto v = Number(t[from + 1 + i]);
      if (!v) Fail(std::string("bad ") + what + " '" + t[from + 1 + i] + "' (a number)");
      return v;
    };
    if (auto bare = Number(t[from]); bare && n == 0) return ValueProgram::Constant(*bare);
    if (kind == "const") {
      if (n != 1) return Fail("const takes one value"), std::nullopt;
      auto v = num(0, "value");
      if (!v) return std::nullopt;
      return ValueProgram::Constant(*v);
    }
    if (kind == "ramp") {
      if (n != 2 && n != 4) return Fail("ramp takes START RATE-PER-HOUR [AMPLITUDE PERIOD]"), std::nullopt;
      auto a = num(0, "start");
      auto b = num(1, "rate");
      if (!a || !b) return std::nullopt;
      if (n == 2) return ValueProgram::Ramp(*a, *b);
      auto c = num(2, "amplitude");
      auto p = Duration(t[from + 4]);
      if (!p || *p <= 0) Fail("bad period '" + t[from + 4] + "' (a positive duration such as 90s, 10m, 24h)");
      if (!c || !p || *p <= 0) return std::nullopt;
      return ValueProgram::Ramp(*a, *b, *c, *p);
    }
    if (kind == "sine") {
      if (n != 3) return Fail("sine takes MEAN AMPLITUDE PERIOD"), std::nullopt;
      auto a = num(0, "mean");
      auto b = num(1, "amplitude");
      auto p = Duration(t[from + 3]);
      if (!p || *p <= 0) Fail("bad period '" + t[from + 3] + "' (a positive duration such as 90s, 10m, 24h)");
      if (!a || !b || !p || *p <= 0) return std::nullopt;
      return ValueProgram::Sine(*a, *b, *p);
    }
    if (kind == "steps") {
      if (n == 0) return Fail("steps needs at least one TIME=VALUE"), std::nullopt;
      std::vector<std::pair<double, double>> steps;
      for (size_t i = from + 1; i < t.size(); ++i) {
        const auto eq = t[i].find('=');
        std::optional<double> at, v;
        if (eq != std::string::npos) {
          at = Duration(t[i].substr(0, eq));
          v = Number(t[i].substr(eq + 1));
        }
        if (!at || !v || *at < 0) {
          Fail("bad step '" + t[i] + "' (TIME=VALUE, e.g. 2h=15.5)");
          return std::nullopt;
        }
        steps.emplace_back(*at, *v);
      }
      return ValueProgram::Steps(std::move(steps));
    }
    if (kind == "walk") {
      if (n != 3 && n != 4) return Fail("walk takes START STEP SEED [INTERVAL]"), std::nullopt;
      auto a = num(0, "start");
      auto b = num(1, "step");
      auto seed = Integer(t[from + 3]);
      if (!seed || *seed < 0 || *seed > 0xFFFFFFFFll) Fail("bad seed '" + t[from + 3] + "' (0..4294967295)");
      std::optional<double> every = 60.0;
      if (n == 4) {
        every = Duration(t[from + 4]);
        if (!every || *every <= 0) Fail("bad interval '" + t[from + 4] + "' (a positive duration)");
      }
      if (!a || !b || !seed || *seed < 0 || *seed > 0xFFFFFFFFll || !every || *every <= 0) return std::nullopt;
      return ValueProgram::Walk(*a, *b, static_cast<uint32_t>(*seed), *every);
    }
    Fail("unknown value program '" + t[from] + "' (const, ramp, sine, steps or walk)");
    return std::nullopt;
  }

  void Adapter(const std::vector<std::string>& t) {
    if (haveAdapter) return Fail("second adapter line");
    if (t.size() != 3) return Fail("adapter takes TYPE PORT (digits 0..9)");
    auto type = Integer(t[1]);
    auto port = Integer(t[2]);
    if (!type || *type < 0 || *type > 9) return Fail("bad adapter type '" + t[1] + "' (a digit 0..9)");
    if (!port || *port < 0 || *port > 9) return Fail("bad adapter port '" + t[2] + "' (a digit 0..9)");
    net->SetAdapter(static_cast<int>(*type), static_cast<int>(*port));
    haveAdapter = true;
  }

  void Chip(const std::vector<std::string>& t) {
    if (t.size() != 4) return Fail("chip takes NAME KIND ROM");
    const std::string& name = t[1];
    if (net->FindByName(name)) return Fail("chip name '" + name + "' used twice");
    const std::string kind = Lower(t[2]);
    uint8_t family = 0;
    if (kind == "ds18s20") family = kFamilyDs18s20;
    else if (kind == "ds18b20") family = kFamilyDs18b20;
    else if (kind == "ds2438") family = kFamilyDs2438;
    else if (kind == "ds2423") family = kFamilyDs2423;
    else if (kind == "ds2450") family = kFamilyDs2450;
    else return Fail("unknown chip kind '" + t[2] + "' (DS18S20, DS18B20, DS2438, DS2423 or DS2450)");

    RomCode rom{};
    const std::string& text = t[3];
    if (Lower(text) == "auto") {
      rom = MakeRom(family, autoSerial++);
    } else {
      bool hex = !text.empty();
      for (char c : text) hex = hex && std::isxdigit(static_cast<unsigned char>(c));
      if (!hex || (text.size() != 16 && text.size() != 14))
        return Fail("bad ROM '" + text + "' (16 hex digits, CRC first and family last; 14 without the CRC; or auto)");
      // Most significant byte first: the last two digits are byte 0.
      const size_t bytes = text.size() / 2;
      for (size_t i = 0; i < bytes; ++i)
        rom[bytes - 1 - i] = static_cast<uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
      if (text.size() == 14) {
        rom = MakeRom(rom[0], [&] {
          uint64_t s = 0;
          for (int i = 6; i >= 1; --i) s = (s << 8) | rom[i];
          return s;
        }());
      } else if (!RomCrcValid(rom)) {
        const RomCode good = [&] {
          uint64_t s = 0;
          for (int i = 6; i >= 1; --i) s = (s << 8) | rom[i];
          return MakeRom(rom[0], s);
        }();
        return Fail("ROM '" + text + "' has a bad CRC byte (expected " + RomToText(good) + ")");
      }
      if (rom[0] != family) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02X", rom[0]);
        return Fail("ROM '" + text + "' has family " + buf + ", not that of " + t[2]);
      }
    }
    if (net->Find(rom)) return Fail("ROM '" + RomToText(rom) + "' used twice");
    SimChip* c = nullptr;
    switch (family) {
      case kFamilyDs18s20: c = &net->AddDs18s20(rom); break;
      case kFamilyDs18b20: c = &net->AddDs18b20(rom); break;
      case kFamilyDs2438: c = &net->AddDs2438(rom); break;
      case kFamilyDs2423: c = &net->AddDs2423(rom); break;
      default: c = &net->AddDs2450(rom); break;
    }
    c->set_name(name);
  }

  SimChip* Named(const std::string& name) {
    SimChip* c = net->FindByName(name);
    if (!c) Fail("no chip named '" + name + "' (declare it with a chip line first)");
    return c;
  }

  void Value(const std::vector<std::string>& t) {
    if (t.size() < 3) return Fail("value takes NAME QUANTITY PROGRAM");
    SimChip* c = Named(t[1]);
    if (!c) return;
    const std::string q = Lower(t[2]);
    auto bad = [&](const char* allowed) {
      Fail("a " + std::string(c->kind()) + " has no quantity '" + t[2] + "' (" + allowed + ")");
    };
    if (auto* d = dynamic_cast<Ds18x20*>(c)) {
      if (q != "temp") return bad("temp");
      if (auto p = Program(t, 3)) d->SetTemperature(*p);
    } else if (auto* d = dynamic_cast<Ds2438*>(c)) {
      if (q != "temp" && q != "vad" && q != "vdd") return bad("temp, vad or vdd");
      auto p = Program(t, 3);
      if (!p) return;
      if (q == "temp") d->SetTemperature(*p);
      else if (q == "vad") d->SetVad(*p);
      else d->SetVdd(*p);
    } else if (auto* d = dynamic_cast<Ds2423*>(c)) {
      if (q != "a" && q != "b") return bad("a or b");
      auto p = Program(t, 3);
      if (!p) return;
      if (q == "a") d->SetCounterA(*p);
      else d->SetCounterB(*p);
    } else if (auto* d = dynamic_cast<Ds2450*>(c)) {
      if (q == "vane") {
        if (t.size() < 4 || t[3].size() != 1 || t[3][0] < 'a' || t[3][0] > 'd')
          return Fail("vane takes a code table letter a..d, then a direction program");
        if (auto p = Program(t, 4)) d->SetVane(*p, t[3][0] - 'a');
        return;
      }
      if (q.size() != 1 || q[0] < 'a' || q[0] > 'd') return bad("a, b, c, d or vane");
      if (auto p = Program(t, 3)) d->SetInput(q[0] - 'a', *p);
    }
  }

  void Fault(const std::vector<std::string>& t) {
    if (t.size() < 3) return Fail("fault takes NAME and absent, stop-after N, stuck-conversion or bit-errors RATE SEED");
    SimChip* c = Named(t[1]);
    if (!c) return;
    const std::string f = Lower(t[2]);
    if (f == "absent" && t.size() == 3) {
      c->SetAbsent(true);
    } else if (f == "stuck-conversion" && t.size() == 3) {
      c->SetStuckConversion(true);
    } else if (f == "stop-after" && t.size() == 4) {
      auto n = Integer(t[3]);
      if (!n || *n < 0 || *n > 1000000000) return Fail("bad count '" + t[3] + "' (accesses answered, 0 or more)");
      c->StopAfterAccesses(static_cast<int>(*n));
    } else if (f == "bit-errors" && t.size() == 5) {
      auto rate = Number(t[3]);
      auto seed = Integer(t[4]);
      if (!rate || *rate < 0 || *rate > 1) return Fail("bad bit error rate '" + t[3] + "' (0..1)");
      if (!seed || *seed < 0 || *seed > 0xFFFFFFFFll) return Fail("bad seed '" + t[4] + "' (0..4294967295)");
      c->SetBitErrors(*rate, static_cast<uint32_t>(*seed));
    } else {
      Fail("unknown fault '" + t[2] + "' or wrong argument count (absent, stop-after N, stuck-conversion, bit-errors RATE SEED)");
    }
  }
};

}  // namespace

std::unique_ptr<SimNetwork> ParseStation(const std::string& text, const Clock& clock, std::string& error) {
  Parser p{clock, std::make_unique<SimNetwork>(clock), {}, 0, false, 1};
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    ++p.line;
    if (const auto hash = raw.find('#'); hash != std::string::npos) raw.erase(hash);
    std::istringstream words(raw);
    std::vector<std::string> t;
    for (std::string w; words >> w;) t.push_back(w);
    if (t.empty()) continue;
    const std::string key = Lower(t[0]);
    if (key == "adapter") p.Adapter(t);
    else if (key == "chip") p.Chip(t);
    else if (key == "value") p.Value(t);
    else if (key == "fault") p.Fault(t);
    else p.Fail("unknown keyword '" + t[0] + "' (adapter, chip, value or fault)");
  }
  if (!p.haveAdapter) p.errors.push_back("no adapter line (adapter TYPE PORT)");
  if (!p.errors.empty()) {
    error.clear();
    for (const auto& e : p.errors) error += (error.empty() ? "" : "\n") + e;
    return nullptr;
  }
  error.clear();
  return std::move(p.net);
}

std::unique_ptr<SimNetwork> LoadStation(const std::string& path, const Clock& clock, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot open station file '" + path + "'";
    return nullptr;
  }
  std::ostringstream ss;
  ss << f.rdbuf();
  auto net = ParseStation(ss.str(), clock, error);
  if (!net) error = path + ": " + error;
  return net;
}

}  // namespace wx
