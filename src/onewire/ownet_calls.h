// SPDX-License-Identifier: GPL-2.0-or-later
// The libownet calls of the owserver route, as a table: the program loads it
// from the owserver module (wx118-owserver.so, built from owserver_module.cpp)
// only when the chips are read through owserver.
#pragma once
#include <ownetapi.h>

#include <string>

namespace wx {

struct OwnetCalls {
  decltype(&::OWNET_init) init;
  decltype(&::OWNET_close) close;
  decltype(&::OWNET_put) put;
  decltype(&::OWNET_present) present;
  decltype(&::OWNET_dirlist) dirlist;
  decltype(&::OWNET_read) read;
};

// The table, loaded on the first call; nullptr with the reason when the
// module cannot be loaded.
const OwnetCalls* LoadOwnet(std::string& why);

}  // namespace wx
