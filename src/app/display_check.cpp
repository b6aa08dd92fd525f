// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/display_check.h"

#include <dlfcn.h>

#include <cstdlib>

namespace wx {
namespace {

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// Tries the X server of DISPLAY. The X library is loaded only for this
// check (the toolkit loads it anyway); when it cannot be loaded the
// toolkit is left to decide.
bool XServerAnswers() {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb) return true;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  bool ok = true;
  if (connect && hasError && disconnect) {
    void* c = connect(nullptr, nullptr);
    ok = c && hasError(c) == 0;
    if (c) disconnect(c);
  }
  ::dlclose(xcb);
  return ok;
}

}  // namespace

bool DisplayAvailable(std::string& why) {
  if (Set("QT_QPA_PLATFORM") || Set("WAYLAND_DISPLAY")) return true;
  if (!Set("DISPLAY")) {
    why = "DISPLAY is not set";
    return false;
  }
  if (!XServerAnswers()) {
    why = std::string("the X display ") + std::getenv("DISPLAY") + " does not answer";
    return false;
  }
  return true;
}

std::string NoDisplayText(const std::string& why, bool demo) {
  return "no display found (" + why + "); to run without windows use: wx118 " +
         (demo ? "--demo --headless" : "--headless");
}

}  // namespace wx
