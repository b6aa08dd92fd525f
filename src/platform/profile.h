// SPDX-License-Identifier: GPL-2.0-or-later
// A reader of profile files (sections in square brackets, key=value lines)
// with the rules of the Windows private-profile routines that the secondary
// configuration file relies on.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wx {

// Splits text into lines at CR LF, CR or LF. A final line end does not start
// another line; text without a final line end still gives its last line.
std::vector<std::string> SplitTextLines(std::string_view text);

// A signed 32-bit integer in decimal, or hexadecimal after "$" or (when the
// text is longer than two characters) "0x"/"0X"; nullopt for anything else.
// Hexadecimal values of up to eight digits are taken as 32-bit patterns, so
// $FFFFFFFF is -1. No blanks are allowed.
std::optional<int32_t> ParseProfileInt(std::string_view text);

class ProfileFile {
 public:
  static constexpr size_t kMaxValueLength = 2047;

  ProfileFile() = default;
  static ProfileFile FromText(std::string_view text);
  // nullopt when the file cannot be read.
  static std::optional<ProfileFile> Load(const std::filesystem::path& file);

  // Section and key match without regard to case; the first section of a
  // name and the first key of a name in it count. An absent key gives the
  // default, a present but empty one an empty text.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // The key's default when it is absent or not an integer.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  bool HasKey(std::string_view section, std::string_view key) const;
  // True for a section that is present, even with no keys.
  bool HasSection(std::string_view section) const;

  // While set, every key looked up in any profile is appended as
  // "section/key" (as the reader spells it), so that a check can hold the
  // keys the program reads against its manual. Null (off) otherwise.
  static void RecordLookups(std::vector<std::string>* into);

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Entry* Find(std::string_view section, std::string_view key) const;
  std::vector<Section> sections_;
};

}  // namespace wx
