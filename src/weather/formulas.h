// SPDX-License-Identifier: GPL-2.0-or-later
// The weather formulas, in the metric units of WeatherValues. Each is the
// published formula meteorologists and the common weather-station software
// use, so the values agree with what an owner sees elsewhere.
#pragma once

namespace wx {

// Magnus formula (a = 17.27, b = 237.7 °C).
double DewPointC(double celsius, double humidityPercent);
// The North American wind chill index (2001); the temperature itself at 10 °C
// and above or with wind at 3 mph (4.8 km/h) or less, where it does not apply.
double WindChillC(double celsius, double windKmh);
// The US heat index (Rothfusz regression, with its low- and high-humidity
// adjustments); the temperature itself below 80 °F (26.7 °C).
double HeatIndexC(double celsius, double humidityPercent);
// The Canadian humidex, from the dew point.
double Humidex(double celsius, double humidityPercent);
// The Australian apparent temperature (shade, no radiation): wind in m/s.
double ApparentTemperatureC(double celsius, double humidityPercent, double windMs);
// Sea-level pressure by the hypsometric equation with the station's
// temperature; StationPressureHpa is its inverse.
double SeaLevelPressureHpa(double stationHpa, double altitudeM, double celsius);
double StationPressureHpa(double seaLevelHpa, double altitudeM, double celsius);
// The altimeter setting (QNH) of the standard atmosphere, as the aviation
// and weather networks compute it.
double AltimeterHpa(double stationHpa, double altitudeM);
// A humidity sensor on a DS2438's voltage input: its output over the supply
// (ratiometric), corrected by the chip's temperature. Not clamped.
double SensorHumidityPercent(double volts, double supplyVolts, double celsius);

}  // namespace wx
