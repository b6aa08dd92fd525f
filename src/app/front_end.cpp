// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/front_end.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace wx {

const WindowsModule* LoadWindowsModule(std::string& why) {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    why = "cannot find the program's own folder: " + ec.message();
    return nullptr;
  }
  // A build tree keeps the module beside the program, an installation in
  // its library folder.
  const std::filesystem::path dir = exe.parent_path();
  const std::filesystem::path beside = dir / WX118_WINDOWS_MODULE;
  const std::filesystem::path installed = dir / WX118_WINDOWS_MODULE_DIR / WX118_WINDOWS_MODULE;
  const std::filesystem::path& file = std::filesystem::exists(beside, ec) ? beside : installed;
  // Kept loaded for the whole run: the toolkit does not take unloading well.
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    why = "cannot load the windows module: " + std::string(e ? e : file.string());
    return nullptr;
  }
  const auto* module = static_cast<const WindowsModule*>(::dlsym(handle, kWindowsModuleSymbol));
  if (!module) {
    why = "the windows module " + file.string() + " has no " + kWindowsModuleSymbol;
    return nullptr;
  }
  return module;
}

}  // namespace wx
