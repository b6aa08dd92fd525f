// SPDX-License-Identifier: GPL-2.0-or-later
// Maps the program's Windows-style paths onto the host. "C:/WX18DtLg.txt" and
// "C:\WX118\WX118ini2.txt" keep their spelling in the code and in messages;
// only the file functions see the mapped path.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace wx {

class PathMapper {
 public:
  // root: the data root; a drive letter X maps to <root>/x/.
  explicit PathMapper(std::filesystem::path root);
  // Backslashes become slashes; "X:" at the start maps under the root; a
  // native absolute path is used as it is; a relative path stays relative
  // (to the current folder).
  std::filesystem::path Map(std::string_view programPath) const;
  const std::filesystem::path& root() const { return root_; }
  // " (that is /real/path)" for messages that name a program path; empty when
  // the program path is already the real one.
  std::string RealPathNote(std::string_view programPath) const;
  // A program path for a message: as spelled (with RealPathNote when
  // withNote) when it uses one kind of separator; the real path alone when
  // it mixes "/" and "\\" (a native folder with a file name joined on by "\\").
  std::string Shown(std::string_view programPath, bool withNote = true) const;
  // $XDG_DATA_HOME/wx118, else ~/.local/share/wx118.
  static std::filesystem::path DefaultRoot();

 private:
  std::filesystem::path root_;
};

}  // namespace wx
