// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/paths.h"

#include <cctype>
#include <cstdlib>

namespace wx {

PathMapper::PathMapper(std::filesystem::path root) : root_(std::move(root)) {}

std::filesystem::path PathMapper::Map(std::string_view programPath) const {
  std::string p(programPath);
  for (char& c : p)
    if (c == '\\') c = '/';
  if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
    std::string rest = p.substr(2);
    while (!rest.empty() && rest.front() == '/') rest.erase(rest.begin());
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(p[0])));
    return root_ / std::string(1, drive) / rest;
  }
  return std::filesystem::path(p);
}

std::string PathMapper::RealPathNote(std::string_view programPath) const {
  std::error_code ec;
  std::filesystem::path real = std::filesystem::absolute(Map(programPath), ec);
  if (ec) real = Map(programPath);
  real = real.lexically_normal();
  if (real.string() == programPath) return "";
  return " (that is " + real.string() + ")";
}

std::string PathMapper::Shown(std::string_view programPath, bool withNote) const {
  const bool mixed = programPath.find('/') != std::string_view::npos &&
                     programPath.find('\\') != std::string_view::npos;
  if (!mixed) return std::string(programPath) + (withNote ? RealPathNote(programPath) : std::string());
  std::error_code ec;
  std::filesystem::path real = std::filesystem::absolute(Map(programPath), ec);
  if (ec) real = Map(programPath);
  return real.lexically_normal().string();
}

std::filesystem::path PathMapper::DefaultRoot() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    return std::filesystem::path(xdg) / "wx118";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home) / ".local/share/wx118";
  return std::filesystem::path("wx118-data");
}

}  // namespace wx
