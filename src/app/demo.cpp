// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/demo.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "tmex/crc.h"
#include "tmex/sim/sim_backend.h"
#include "tmex/sim/sim_chip.h"
#include "tmex/sim/sim_network.h"
#include "tmex/sim/station_file.h"

namespace wx {
namespace {

constexpr char kLineLetters[] = "klmnopqrstuvw";

std::string DefaultProgram(const std::string& family, int channel) {
  if (family == "10" || family == "28") return "temp const " + std::to_string(15 + channel);
  if (family == "26") return channel == 8 ? "vad const 4.5; temp const 20" : "vad const 3; temp const 20";
  if (family == "1D") return "a ramp 0 60";
  if (family == "20") return "vane a const 6";
  return "";
}

std::string KindName(const std::string& family) {
  if (family == "10") return "DS18S20";
  if (family == "28") return "DS18B20";
  if (family == "26") return "DS2438";
  if (family == "1D") return "DS2423";
  if (family == "20") return "DS2450";
  return "unknown";
}

void WriteIfMissing(const std::filesystem::path& file, const std::string& text) {
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) return;
  std::filesystem::create_directories(file.parent_path(), ec);
  std::ofstream(file, std::ios::binary) << text;
}

// Each trace in a band of its own and a colour of its own, for the demo's
// values: a row is value * m / 10000 + a above the bottom, and rows wrap
// every 236, so an offset of 236 - k lowers a trace by k rows.
std::string DemoChartSettings() {
  return "[LineOffsetScale]\r\n"
         // 4 rows per degree C; 2 to 21.5 C in rows 153 to 231.
         "p0a=145\r\np0m=2500\r\np1a=145\r\np1m=2500\r\np2a=145\r\np2m=2500\r\n"
         "p3a=145\r\np3m=2500\r\np4a=145\r\np4m=2500\r\n"
         // Rain 0 to 70 tips in rows 26 to 61, lightning 0 to 8 in rows 64 to 80.
         "p5a=26\r\np5m=5000\r\np7a=64\r\np7m=20000\r\n"
         // The cup counter gains 5000 an hour on average: half a row an hour.
         "p6a=30\r\np6m=1\r\n"
         // Pressure 4.25 to 4.95 V in rows 90 to 125, humidity 2.1 to 3.7 V in rows 128 to 152.
         "p8a=114\r\np8m=5000\r\np9a=97\r\np9m=1500\r\n"
         // The on/off levels: thin lines at the bottom.
         "p11a=3\r\np11m=8\r\np12a=14\r\np12m=8\r\n"
         "[VariousOne]\r\n"
         // On/off 2 changes every half hour: its level only, no transition strokes.
         "p12v1=1\r\n"
         "[ChannelColors]\r\n"
         "p0c=0000FF\r\np1c=00A000\r\np2c=C00000\r\np3c=0080FF\r\np4c=800080\r\n"
         "p5c=FF8000\r\np6c=FF00FF\r\np7c=00A0A0\r\np8c=404040\r\np9c=800000\r\n"
         "p11c=808000\r\np12c=0000A0\r\n"
         "[WindowPosnsAndSizes]\r\n"
         // The main window holds the whole 780-column chart; the numeric window
         // overlaps it below the chart only.
         "SchemeAW1=0,0,800,370\r\nSchemeAW2=0,610,800,100\r\nSchemeAW3=0,330,800,270\r\n"
         "SchemeBW1=10,0,800,370\r\nSchemeBW2=10,610,800,100\r\nSchemeBW3=10,330,800,270\r\n";
}

}  // namespace

std::vector<ChannelChip> StationWriter::AllChannels() {
  return {{0, "10", ""}, {1, "28", ""}, {2, "26", ""}, {3, "28", ""}, {4, "10", ""},
          {5, "1D", ""}, {6, "1D", ""}, {7, "1D", ""}, {8, "26", ""}, {9, "26", ""},
          {10, "20", ""}, {11, "1D", ""}, {12, "1D", ""}};
}

const ChannelChip* StationWriter::Find(int channel) const {
  for (const ChannelChip& c : chips_)
    if (c.channel == channel) return &c;
  return nullptr;
}

std::array<uint8_t, 8> StationWriter::Rom(int channel) const {
  std::array<uint8_t, 8> rom{};
  const ChannelChip* c = Find(channel);
  rom[0] = c ? static_cast<uint8_t>(std::stoi(c->family, nullptr, 16)) : 0;
  rom[1] = static_cast<uint8_t>(0x11 * (channel + 1));
  rom[2] = 0x0C;
  rom[3] = 0xB1;
  rom[4] = 0x18;
  rom[5] = static_cast<uint8_t>(channel);
  rom[6] = 0x00;
  rom[7] = Crc8(rom.data(), 7);
  return rom;
}

std::string StationWriter::IdText(int channel) const { return RomToText(Rom(channel)); }

std::string StationWriter::PrimaryText() const {
  static const char* kNames[13] = {"T0", "T1", "T2", "T3", "T4", "rain", "wind speed", "lightning",
                                   "pressure", "humidity", "wind direction", "on/off 1", "on/off 2"};
  std::ostringstream o;
  o << "abWX118ini\r\n"
    << "WX118 primary configuration file\r\n"
    << "(lines b to g and j are free text; see the README)\r\n-\r\n-\r\n-\r\n-\r\n"
    << "h 1   port digit at character 3\r\n"
    << "i 5   adapter type at character 3 (5 = DS9097U)\r\n"
    << "-\r\n";
  for (int ch = 0; ch < 13; ++ch) {
    const ChannelChip* c = Find(ch);
    const std::string id = c ? IdText(ch) : std::string("0000000000000000");
    char c21 = '-', c22 = '-';
    if (ch == 10) c21 = 'j', c22 = 'a';
    if (ch == 5 || ch == 6 || ch == 7 || ch == 11 || ch == 12) c22 = 'a';
    o << kLineLetters[ch] << ' ' << (c ? 'e' : 'd') << id << ' ' << c21 << c22 << "  "
      << kNames[ch] << "\r\n";
  }
  return o.str();
}

std::string StationWriter::StationText() const {
  std::ostringstream o;
  o << "# Simulated station: one chip per channel of WX118ini.txt\n"
    << "adapter 5 1\n";
  for (const ChannelChip& c : chips_)
    o << "chip C" << c.channel << ' ' << KindName(c.family) << ' ' << IdText(c.channel) << '\n';
  for (const ChannelChip& c : chips_) {
    // "QUANTITY PROGRAM; QUANTITY PROGRAM ..." becomes one value line each.
    std::stringstream programs(c.program.empty() ? DefaultProgram(c.family, c.channel) : c.program);
    std::string one;
    while (std::getline(programs, one, ';')) {
      const size_t first = one.find_first_not_of(' ');
      if (first == std::string::npos) continue;
      one = one.substr(first);
      // "fault ..." entries become fault lines, the rest value lines.
      if (one.rfind("fault ", 0) == 0)
        o << "fault C" << c.channel << ' ' << one.substr(6) << '\n';
      else
        o << "value C" << c.channel << ' ' << one << '\n';
    }
  }
  return o.str();
}

void StationWriter::WritePrimary(const std::filesystem::path& file) const {
  std::ofstream(file, std::ios::binary) << PrimaryText();
}

void StationWriter::WriteStationFile(const std::filesystem::path& file) const {
  std::ofstream(file, std::ios::binary) << StationText();
}

BackendFactory StationWriter::MakeFactory(const std::filesystem::path& stationFile,
                                          const Clock& clock, std::string* error) {
  std::string err;
  std::shared_ptr<SimNetwork> net = LoadStation(stationFile.string(), clock, err);
  if (error) *error = net ? std::string() : err;
  if (!net) return [](int, int) { return std::unique_ptr<BusBackend>(); };
  // The factory keeps the network alive for as long as it is used.
  return [net, serve = MakeSimBackendFactory(*net)](int port, int type) { return serve(port, type); };
}

DemoPaths WriteDemoInstallation(const std::filesystem::path& dirIn) {
  DemoPaths p;
  p.dir = std::filesystem::absolute(dirIn);
  p.root = p.dir / "root";
  p.www = p.dir / "www";
  p.primary = p.dir / "WX118ini.txt";
  p.station = p.dir / "demo-station.txt";
  p.secondary = p.root / "c" / "WX118" / "WX118ini2.txt";
  std::error_code ec;
  std::filesystem::create_directories(p.www, ec);
  std::filesystem::create_directories(p.root, ec);

  // Weather-like programs (hours since the simulation started).
  std::vector<ChannelChip> chips = {
      // Outdoor: a daily cycle; T3 sees a cold front arrive after a day and a half.
      {0, "10", "temp sine 7 5 24h"},
      {1, "28", "temp sine 21 0.6 24h"},
      {2, "26", "temp walk 12 0.05 7; vad const 0"},
      {3, "28", "temp steps 0h=9 30h=8.5 34h=6 36h=3 40h=2 48h=2.5 60h=4"},
      {4, "10", "temp sine 4 1.5 24h"},
      // Rain showers: tips in bursts; wind of 10 km/h on average (with
      // WindFactor 7.2), 20 at its strongest and calm half a day later.
      {5, "1D", "a steps 0h=0 3h=4 3.5h=15 4h=22 20h=22 21h=30 22h=41 40h=41 41h=55 44h=70"},
      {6, "1D", "a ramp 0 5000 19099 24h"},
      {7, "1D", "a steps 0h=0 21h=1 21.2h=3 21.5h=4 41h=5 41.1h=8"},
      // Pressure falls then rises over three days (a front passing);
      // humidity swings daily, 40 % in the afternoon to 95 % before dawn.
      {8, "26", "vad sine 4.6 0.35 72h; temp const 19"},
      {9, "26", "vad sine 2.9 -0.8 24h; temp const 19"},
      // The vane veers slowly (a sixteenth of a turn every two hours).
      {10, "20", "vane a ramp 0 0.5"},
      {11, "1D", "a steps 0h=0 2h=1 2.3h=6 6h=6 9h=7 9.4h=12"},
      {12, "1D", "a ramp 0 2"},
  };
  StationWriter writer(chips);
  WriteIfMissing(p.primary, writer.PrimaryText());
  WriteIfMissing(p.station, writer.StationText());
  WriteIfMissing(p.secondary,
                 "abWX118ini2 demo configuration written by wx118 --demo\r\n"
                 "[swg]\r\n"
                 "wgp=" + p.www.string() + "\r\n"
                 "wgh=WX118WG.htm\r\n"
                 "hsi=60\r\n"
                 "[enis]\r\n"
                 "wgi=WX118WG.jpg\r\n"
                 "iri=60\r\n"
                 "[HTMLMsg]\r\n"
                 "Msg=This page comes from the WX118 demo station: every reading is simulated.\r\n"
                 "Persists=0\r\n"
                 "[Units]\r\n"
                 "Temperature=C\r\n"
                 // 0.2794 mm a tip; the barometer gives the station's pressure,
                 // 985 to 1013 hPa, about 1000 to 1028 at sea level; the
                 // humidity line is the sensor's ratiometric one at 5 V.
                 "p5f=0.2794\r\n"
                 "p8o=815\r\n"
                 "p8f=40\r\n"
                 "p9f=32.26\r\n"
                 "p9o=-25.81\r\n"
                 "[Station]\r\n"
                 "Name=WX118 demo station\r\n"
                 "Altitude=120\r\n"
                 "Latitude=52.1\r\n"
                 "Longitude=5.2\r\n"
                 "Outdoor=T0\r\n"
                 "WindFactor=7.2\r\n"
                 "Vdd=5.00\r\n"
                 "Pressure=station\r\n"
                 "[PhonePage]\r\n"
                 "Index=1\r\n"
                 "Name=WX118 demo station\r\n" + DemoChartSettings());
  // No copy of the help file: the program finds it beside itself.
  return p;
}

}  // namespace wx
