// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/help_texts.h"

#include <initializer_list>

namespace wx {
namespace {

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) {
    if (!text.empty()) text += '\r';
    text += line;
  }
  return text;
}

}  // namespace

std::string OverviewHelpText() {
  return Lines({
      "You may create an optional secondary ini file, C:/WX118/WX118ini2.txt.",
      "If it is present, it changes how some parts of the program behave,",
      "for example the colours of the lines on the graph.",
      "It must be in that folder (C:/WX118), with that name.",
      "",
      "Do not confuse it with the primary ini file, WX118ini.txt (no \"2\"),",
      "which is always needed and belongs in the folder of WX118.exe.",
      "",
      "The secondary file must begin abWX118ini2 and uses sections and keys, e.g.",
      "    [ChannelColors]",
      "    p0c=FF0000",
      "sets the line of channel 0 (T0) to red.",
      "",
      "The Legacy and Modern items of the Ini2Info menu give details.",
  });
}

std::string LegacyHelpText() {
  return Lines({
      "Before November 2009 the secondary ini file used commands of an older style:",
      "a line beginning with an identifier in square brackets, followed by numbers.",
      "",
      "For example \"[wp1spa]0,0,799,370\" gave the left, top, width and height of the",
      "main window in layout scheme A; sister commands did the same for the other",
      "windows and for scheme B.",
      "\"[p0OffS] 190, .4\" took two numbers: the first shifted a plot up or down,",
      "the second flattened it.",
      "",
      "These commands are superseded and now have no effect at all:",
      "window positions and sizes now go in the [WindowPosnsAndSizes] section",
      "(e.g. SchemeAW1=0,0,799,370), plot offsets and scales in the",
      "[LineOffsetScale] section (e.g. p0a=190 and p0m=4000).",
      "See the Modern item of this menu.",
  });
}

std::string ModernHelpText() {
  return Lines({
      "Sections and keys of WX118ini2.txt (first line: abWX118ini2), with examples:",
      "",
      "[swg]",
      "wgp=C:\\web\\    folder the web page is saved in",
      "wgh=WX118WG.htm    file name of the page",
      "hsi=600    seconds between page saves",
      "[enis]",
      "wgi=WX118WG.jpg    file name of the graph image (it lies beside the page)",
      "iri=600    seconds between image saves",
      "[SecondImage]",
      "jpg2caption=My garden    caption of a second picture on the page",
      "jpg2name=garden.jpg    a picture in the page folder",
      "jpg2alt=Garden view    text for the picture's alternative-text field",
      "jpg2width=80    width of the picture",
      "[MQTT]    (optional) publish every reading to an MQTT broker",
      "Host=192.168.1.5    Port=1883 (8883 with TLS)    ClientId=wx118-garden",
      "User=weather    PasswordFile=/etc/wx118/mqtt.pw    (the password is its first line)",
      "CAFile=ca.crt    turns on TLS;    CertFile=me.crt    KeyFile=me.key    a client certificate",
      "Prefix=wx118/garden    Retain=1    Discovery=1    DiscoveryPrefix=homeassistant    KeepAlive=60",
      "[Bus]    (optional) read the chips through owserver (OWFS) instead of the adapter",
      "Owserver=localhost:4304    HOST:PORT where owserver listens; lines h and i are then not used",
      "[WUnderground] [PWSweather] [WOW] [Windy] [AWEKAS] [CWOP]    (optional) send the weather to a network",
      "StationId=IMYTOWN12    PasswordFile=/etc/wx118/wu.key    (the secret is its first line)",
      "Interval=300    seconds (at least 300 for CWOP, AWEKAS and Windy, 60 for the others)",
      "Url=https://...    the network's address (default its public one)",
      "[CWOP] Callsign=CW1234    Server=cwop.aprs.net:14580    needs Latitude, Longitude in [Station]",
      "[ChannelColors]",
      "p0c=FF8000 ... p12c=...    one key per channel 0..12: six hex digits in",
      "    red, green, blue order, or S and six digits in blue, green, red order",
      "    (S0080FF is the same orange). A hyphen keeps the default.",
      "    You are warned if you set a line to white (FFFFFF).",
      "[FieldLabels]",
      "p0fL=Out ... p4fL, p5fl ... p9fl, p11fl, p12fl    captions on the numeric window",
      "    (blanks at the end of a caption are lost; put the caption in quotes to keep them)",
      "[LineOffsetScale]",
      "p0a=100    offset: shifts channel 0's trace up or down, a whole number",
      "p0m=5000    multiplier: scales the trace, a whole number relative to 10000,",
      "    which leaves the trace unscaled (5000 halves it)",
      "[BarGraphs]",
      "p5bg=ON    bars for rain (also p6bg wind speed, p7bg lightning) where the old log is read back",
      "[VariousOne]",
      "p11v1=1    how on/off 1 is drawn: 0 a square wave, 1 a dot at the level, 2 a dot at the count",
      "    (p12v1 for on/off 2)",
      "[WindowPosnsAndSizes]",
      "SchemeAW1=0,0,696,370    left, top, width, height of window 1 (main) in scheme A;",
      "    SchemeAW2 (errors), SchemeAW3 (numeric), SchemeBW1, SchemeBW2, SchemeBW3 the same for scheme B",
      "[HTMLMsg]",
      "Msg=Rain gauge cleaned today    a message on the page",
      "Persists=1    days it stays (0: for ever)",
      "[Units]    optional; only the export, current.json, index.html and MQTT use it",
      "Temperature=F    C (the default) or F",
      "p5f=0.2794    rain: amount per count (also p6f wind, p7f lightning,",
      "    p11f, p12f on/off); p5o=0 adds an offset",
      "p5u=mm    the unit shown after it",
      "p8f=10    pressure: value = p8o + p8f * volts; p8o=800, p8u=hPa",
      "p9f=30    humidity the same way: p9o=0, p9u=% (the weather values use the",
      "    sensor's own formula with [Station] Vdd instead)",
      "    Without the section, only raw values appear.",
      "[PhonePage]",
      "Index=1    also write index.html, a page for phones beside the page",
      "Name=My station    the name index.html and current.json show",
      "[Station]    optional; the weather current.json, index.html, MQTT and the export derive",
      "Name=Hill Farm    the station's name (the device Home Assistant shows)",
      "Altitude=120    metres above sea level: sea-level pressure and altimeter setting",
      "Latitude=52.1    Longitude=5.2    decimal degrees, north and east positive",
      "Outdoor=T0    the outdoor temperature channel, T0 to T4 (default T0)",
      "WindFactor=1.974    km/h per count per second (default 1.974: two counts a turn)",
      "Vdd=5.00    the humidity sensor's supply in volts (default 5.00)",
      "Pressure=station    what the [Units] p8 calibration gives: station or sealevel",
      "    Rain in mm: [Units] p5f per count (p5u in or cm converted), else 0.254 mm.",
      "    With Index=1 also history.html, history-week/-month/-year.html and",
      "    the summaries NOAA-YYYY-MM.txt and NOAA-YYYY.txt, from the archive",
      "[Archive]    the archive wx118-archive.sqlite beside the data log",
      "Enabled=1    0 turns it off",
      "Interval=5    minutes between its records, 1 to 60",
      "",
      "Every key with its default and range: man 5 wx118ini2.",
  });
}

}  // namespace wx
