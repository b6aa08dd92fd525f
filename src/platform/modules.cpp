// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/modules.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace wx {

const void* LoadModuleSymbol(const std::string& file, const char* symbol, std::string& why) {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    why = "cannot find the program's own folder: " + ec.message();
    return nullptr;
  }
  // A build tree keeps the module beside the program, an installation in
  // its library folder.
  const std::filesystem::path dir = exe.parent_path();
  const std::filesystem::path beside = dir / file;
  const std::filesystem::path installed = dir / WX118_MODULE_DIR / file;
  const std::filesystem::path& path = std::filesystem::exists(beside, ec) ? beside : installed;
  // Never unloaded: the libraries behind them do not take it well.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    why = "cannot load the module " + file + ": " + std::string(e ? e : path.string());
    return nullptr;
  }
  const void* table = ::dlsym(handle, symbol);
  if (!table) {
    why = "the module " + path.string() + " has no " + symbol;
    return nullptr;
  }
  return table;
}

}  // namespace wx
