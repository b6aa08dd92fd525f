// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/profile.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/text_encoding.h"

namespace wx {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char l = Lower(c);
  if (l >= 'a' && l <= 'f') return l - 'a' + 10;
  return -1;
}

}  // namespace

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::optional<int32_t> ParseProfileInt(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  bool hex = false;
  if (!text.empty() && text.front() == '$') {
    hex = true;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  if (hex) {
    if (text.size() > 8) {
      // Leading zeros do not count against the eight digits.
      while (text.size() > 8 && text.front() == '0') text.remove_prefix(1);
      if (text.size() > 8) return std::nullopt;
    }
    for (char c : text) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      value = value * 16 + d;
    }
    auto bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
  }
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

ProfileFile ProfileFile::FromText(std::string_view text) {
  ProfileFile profile;
  Section* current = nullptr;  // lines before the first section belong to none
  for (const std::string& raw : SplitTextLines(text)) {
    const std::string_view line = Trim(raw);
    if (line.empty()) continue;
    if (line.front() == '[') {
      std::string_view name = line.substr(1);
      const size_t close = name.find(']');
      if (close != std::string_view::npos) name = name.substr(0, close);
      profile.sections_.push_back(Section{std::string(Trim(name)), {}});
      current = &profile.sections_.back();
      continue;
    }
    const size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, eq));
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (value.size() > kMaxValueLength) value = value.substr(0, kMaxValueLength);
    current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
  return profile;
}

std::optional<ProfileFile> ProfileFile::Load(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return FromText(content);
}

namespace {
thread_local std::vector<std::string>* lookupRecord = nullptr;
}  // namespace

void ProfileFile::RecordLookups(std::vector<std::string>* into) { lookupRecord = into; }

const ProfileFile::Entry* ProfileFile::Find(std::string_view section, std::string_view key) const {
  if (lookupRecord) lookupRecord->push_back(std::string(section) + "/" + std::string(key));
  for (const Section& s : sections_) {
    if (!SameText(s.name, section)) continue;
    for (const Entry& e : s.entries)
      if (SameText(e.key, key)) return &e;
    return nullptr;  // only the first section of a name is looked at
  }
  return nullptr;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const Entry* e = Find(section, key);
  return e ? e->value : std::string(defaultValue);
}

int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t defaultValue) const {
  const Entry* e = Find(section, key);
  if (!e) return defaultValue;
  return ParseProfileInt(e->value).value_or(defaultValue);
}

bool ProfileFile::HasKey(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

bool ProfileFile::HasSection(std::string_view section) const {
  for (const Section& s : sections_)
    if (SameText(s.name, section)) return true;
  return false;
}

}  // namespace wx
