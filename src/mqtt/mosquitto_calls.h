// SPDX-License-Identifier: GPL-2.0-or-later
// The libmosquitto calls the publisher makes, as a table: the program loads
// it from the MQTT module (wx118-mqtt.so, built from mqtt_module.cpp) when an
// [MQTT] section asks for a broker, so that a run without one maps neither
// libmosquitto nor its TLS libraries.
#pragma once
#include <mosquitto.h>

#include <string>

namespace wx {

struct MosquittoCalls {
  decltype(&::mosquitto_lib_init) lib_init;
  decltype(&::mosquitto_new) new_;
  decltype(&::mosquitto_destroy) destroy;
  decltype(&::mosquitto_validate_utf8) validate_utf8;
  decltype(&::mosquitto_threaded_set) threaded_set;
  decltype(&::mosquitto_connect_callback_set) connect_callback_set;
  decltype(&::mosquitto_disconnect_callback_set) disconnect_callback_set;
  decltype(&::mosquitto_log_callback_set) log_callback_set;
  decltype(&::mosquitto_will_set) will_set;
  decltype(&::mosquitto_username_pw_set) username_pw_set;
  decltype(&::mosquitto_tls_set) tls_set;
  decltype(&::mosquitto_connect_async) connect_async;
  decltype(&::mosquitto_disconnect) disconnect;
  decltype(&::mosquitto_loop) loop;
  decltype(&::mosquitto_publish) publish;
  decltype(&::mosquitto_strerror) strerror;
  decltype(&::mosquitto_connack_string) connack_string;
};

// The table, loaded on the first call; nullptr with the reason when the
// module cannot be loaded.
const MosquittoCalls* LoadMosquitto(std::string& why);

}  // namespace wx
