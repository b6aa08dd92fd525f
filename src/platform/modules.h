// SPDX-License-Identifier: GPL-2.0-or-later
// The program's own modules: parts loaded only when they are used, so that a
// run without them maps none of their libraries (the windows and the
// toolkit's widgets; libmosquitto, libcurl and libownet with their TLS and
// name libraries). Each module exports one table of calls under a known name.
#pragma once
#include <string>

namespace wx {

// Loads the module `file` from beside the program (a build tree) or from the
// installed module folder, and returns the address of its exported `symbol`.
// nullptr with the reason in `why` when it cannot. A module stays loaded for
// the whole run.
const void* LoadModuleSymbol(const std::string& file, const char* symbol, std::string& why);

// A table of library calls that tests link in and the program loads: `linked`
// (a weak reference, set where the table is linked into the program) first,
// else the module. Loaded once; the reason of a failure is kept.
template <class Table>
const Table* LinkedOrLoaded(const Table* linked, const char* file, const char* symbol, std::string& why) {
  struct Once {
    const Table* table = nullptr;
    std::string why;
  };
  static const Once once = [&] {
    Once o;
    o.table = linked ? linked : static_cast<const Table*>(LoadModuleSymbol(file, symbol, o.why));
    return o;
  }();
  if (!once.table) why = once.why;
  return once.table;
}

}  // namespace wx
