// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wx {
namespace {

std::string KindReason(mode_t mode) {
  if (S_ISREG(mode)) return "";
  const char* kind = S_ISDIR(mode)                      ? "a folder"
                     : S_ISFIFO(mode)                   ? "a FIFO"
                     : S_ISCHR(mode) || S_ISBLK(mode)   ? "a device"
                     : S_ISSOCK(mode)                   ? "a socket"
                                                        : "something else";
  return std::string("it is ") + kind + ", not a regular file";
}

}  // namespace

std::string NotRegularFileReason(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  return KindReason(st.st_mode);
}

std::string UnreadableFileReason(const std::filesystem::path& path, size_t maxBytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? "it does not exist" : std::strerror(errno);
  if (std::string reason = KindReason(st.st_mode); !reason.empty()) return reason;
  if (static_cast<unsigned long long>(st.st_size) > maxBytes)
    return "it is longer than " + std::to_string(maxBytes) + " bytes";
  // Opened once, without waiting, so that a file that cannot be read is named here.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  std::string reason = ::fstat(fd, &st) == 0 ? KindReason(st.st_mode) : std::strerror(errno);
  ::close(fd);
  return reason;
}

FileText ReadWholeFile(const std::filesystem::path& path, size_t maxBytes) {
  FileText r;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    r.missing = errno == ENOENT || errno == ENOTDIR;
    r.reason = r.missing ? "it does not exist" : std::strerror(errno);
    return r;
  }
  if (r.reason = KindReason(st.st_mode); !r.reason.empty()) return r;
  // O_NONBLOCK: should a FIFO take the file's place after the check, opening
  // it must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    r.reason = std::strerror(errno);
    return r;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    r.reason = ::fstat(fd, &st) == 0 ? KindReason(st.st_mode) : std::strerror(errno);
    ::close(fd);
    return r;
  }
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      r.reason = std::string("read error: ") + std::strerror(errno);
      break;
    }
    if (n == 0) {
      r.ok = true;
      break;
    }
    if (r.text.size() + static_cast<size_t>(n) > maxBytes) {
      r.reason = "it is longer than " + std::to_string(maxBytes) + " bytes";
      break;
    }
    r.text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!r.ok) r.text.clear();
  return r;
}

}  // namespace wx
