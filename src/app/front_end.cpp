// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/front_end.h"

#include "platform/modules.h"

namespace wx {

const WindowsModule* LoadWindowsModule(std::string& why) {
  return static_cast<const WindowsModule*>(LoadModuleSymbol("wx118-windows.so", kWindowsModuleSymbol, why));
}

}  // namespace wx
