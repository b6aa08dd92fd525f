// SPDX-License-Identifier: GPL-2.0-or-later
// Reading outside files safely: a folder, a FIFO or a device where a file is
// expected is named as such instead of hanging or filling memory, a read
// error is caught, and the reason is a short text for the messages.
#pragma once
#include <cstddef>
#include <filesystem>
#include <string>

namespace wx {

// "" for a regular file (links followed) or a missing path, else why it is
// not one ("it is a folder, not a regular file", ...).
std::string NotRegularFileReason(const std::filesystem::path& path);

// A configuration file is a few kilobytes; anything far larger is not one.
constexpr size_t kMaxConfigFileBytes = size_t{1} << 20;

struct FileText {
  bool ok = false;
  bool missing = false;  // not there at all
  std::string text;
  std::string reason;  // why not ok: "it does not exist", "Permission denied", ...
};

// "" when the path is a regular file of at most maxBytes that can be opened
// for reading, else why not ("it does not exist", "it is a FIFO, not a
// regular file", "it is longer than ...", "Permission denied"). For files
// another library reads by name.
std::string UnreadableFileReason(const std::filesystem::path& path, size_t maxBytes);

// The whole file, refused when it is no regular file or longer than maxBytes.
FileText ReadWholeFile(const std::filesystem::path& path, size_t maxBytes);

}  // namespace wx
