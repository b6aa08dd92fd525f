// SPDX-License-Identifier: GPL-2.0-or-later
// The MQTT module: libmosquitto's calls, found by name after loading
// (mqtt/mosquitto_calls.h). The tests link it in directly.
#include "mqtt/mosquitto_calls.h"

extern "C" __attribute__((visibility("default"))) const wx::MosquittoCalls wx118_mosquitto_calls{
    .lib_init = &::mosquitto_lib_init,
    .new_ = &::mosquitto_new,
    .destroy = &::mosquitto_destroy,
    .validate_utf8 = &::mosquitto_validate_utf8,
    .threaded_set = &::mosquitto_threaded_set,
    .connect_callback_set = &::mosquitto_connect_callback_set,
    .disconnect_callback_set = &::mosquitto_disconnect_callback_set,
    .log_callback_set = &::mosquitto_log_callback_set,
    .will_set = &::mosquitto_will_set,
    .username_pw_set = &::mosquitto_username_pw_set,
    .tls_set = &::mosquitto_tls_set,
    .connect_async = &::mosquitto_connect_async,
    .disconnect = &::mosquitto_disconnect,
    .loop = &::mosquitto_loop,
    .publish = &::mosquitto_publish,
    .strerror = &::mosquitto_strerror,
    .connack_string = &::mosquitto_connack_string,
};
