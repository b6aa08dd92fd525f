// SPDX-License-Identifier: GPL-2.0-or-later
// The libcurl calls of the HTTP uploads, as a table: the program loads it
// from the uploads module (wx118-upload.so, built from upload_module.cpp)
// when a weather network is configured, so that a run without one maps
// neither libcurl nor its TLS, Kerberos and LDAP libraries.
#pragma once
#include <curl/curl.h>

#include <string>

namespace wx {

struct CurlCalls {
  decltype(&::curl_global_init) global_init;
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_setopt) easy_setopt;
  decltype(&::curl_easy_perform) easy_perform;
  decltype(&::curl_easy_getinfo) easy_getinfo;
  decltype(&::curl_easy_cleanup) easy_cleanup;
  decltype(&::curl_easy_strerror) easy_strerror;
};

// The table, loaded and the library initialised on the first call (before
// the upload threads start); nullptr with the reason when the module cannot
// be loaded.
const CurlCalls* LoadCurl(std::string& why);

}  // namespace wx
