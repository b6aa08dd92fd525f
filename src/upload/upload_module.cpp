// SPDX-License-Identifier: GPL-2.0-or-later
// The uploads module: libcurl's calls, found by name after loading
// (upload/curl_calls.h). The tests link it in directly.
#include "upload/curl_calls.h"

extern "C" __attribute__((visibility("default"))) const wx::CurlCalls wx118_curl_calls{
    .global_init = &::curl_global_init,
    .easy_init = &::curl_easy_init,
    .easy_setopt = &::curl_easy_setopt,
    .easy_perform = &::curl_easy_perform,
    .easy_getinfo = &::curl_easy_getinfo,
    .easy_cleanup = &::curl_easy_cleanup,
    .easy_strerror = &::curl_easy_strerror,
};
