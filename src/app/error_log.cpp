// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/error_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_checks.h"

namespace wx {

ErrorLogFile::ErrorLogFile()
    : write_([](int fd, const void* data, size_t size) { return ::write(fd, data, size); }) {}

bool ErrorLogFile::Open(const std::filesystem::path& path, const std::string& stamp) {
  Close();
  path_ = path;
  return OpenCurrent(stamp);
}

bool ErrorLogFile::OpenCurrent(const std::string& stamp) {
  if (fd_ >= 0) {
    struct stat named {}, held {};
    if (::stat(path_.c_str(), &named) == 0 && ::fstat(fd_, &held) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino)
      return true;
    // Moved away (log rotation): go on in a file at the path.
    Close();
  }
  // Checked first, and O_NONBLOCK: a FIFO in the log's place must not hang
  // the program.
  reason_ = NotRegularFileReason(path_);
  if (!reason_.empty()) return false;
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK;
  fd_ = ::open(path_.c_str(), flags);
  if (fd_ < 0 && errno == ENOENT) fd_ = ::open(path_.c_str(), flags | O_CREAT | O_EXCL, 0644);
  if (fd_ < 0 && errno == EEXIST) fd_ = ::open(path_.c_str(), flags);
  if (fd_ < 0) {
    reason_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    reason_ = "it is not a regular file";
    Close();
    return false;
  }
  if (st.st_size == 0) return Append("WX118 Error log. Created by the program " + stamp + "\r\n");
  return true;
}

bool ErrorLogFile::Append(const std::string& bytes) {
  struct stat st {};
  const off_t oldSize = ::fstat(fd_, &st) == 0 ? st.st_size : -1;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write_(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason_ = n < 0 ? std::strerror(errno) : "nothing written";
      // Take back a partial line, so the next one does not land on it.
      if (done > 0 && oldSize >= 0 && ::ftruncate(fd_, oldSize) != 0) reason_ += "; a part of the line stays";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ErrorLogFile::WriteLine(const std::string& line, const std::string& stamp) {
  return OpenCurrent(stamp) && Append(line + "\r\n");
}

void ErrorLogFile::Close() {
  if (fd_ < 0) return;
  ::fsync(fd_);
  ::close(fd_);
  fd_ = -1;
}

namespace {

constexpr double kMinute = 1.0 / 1440.0;
// More distinct messages than this at once are written as they come.
constexpr size_t kMaxRuns = 256;

bool PowerOfTen(uint64_t n) {
  while (n >= 10 && n % 10 == 0) n /= 10;
  return n == 1;
}

}  // namespace

std::optional<std::string> RepeatCollapser::Pass(const std::string& message, uint16_t number,
                                                 DateTime now, const std::string& stamp) {
  const std::string line = std::to_string(number) + ": " + message;
  auto it = runs_.find(message);
  if (it == runs_.end()) {
    if (runs_.size() < kMaxRuns) runs_.emplace(message, Run{1, number, stamp, number, stamp, now, 0, true});
    return line + " " + stamp;
  }
  Run& r = it->second;
  if (now > r.last) r.longestGap = std::max(r.longestGap, now - r.last);
  r.last = now;
  r.lastNumber = number;
  r.lastStamp = stamp;
  ++r.count;
  r.lastWritten = PowerOfTen(r.count);
  if (!r.lastWritten) return std::nullopt;
  return line + " (the same message " + std::to_string(r.count) + " times since number " +
         std::to_string(r.firstNumber) + " at " + r.firstStamp + "; the repeats between are not logged) " +
         stamp;
}

std::string RepeatCollapser::Closing(const std::string& message, const Run& r) {
  return std::to_string(r.lastNumber) + ": " + message + " (the last of " + std::to_string(r.count) +
         " times since number " + std::to_string(r.firstNumber) + " at " + r.firstStamp +
         "; not seen since) " + r.lastStamp;
}

std::vector<std::string> RepeatCollapser::Ended(DateTime now, bool all) {
  std::vector<std::string> lines;
  for (auto it = runs_.begin(); it != runs_.end();) {
    // A run has ended when the message stayed away three times its longest
    // gap so far: at least five minutes, at most an hour.
    const DateTime quiet = std::clamp(3 * it->second.longestGap, 5 * kMinute, 60 * kMinute);
    if (all || now - it->second.last > quiet) {
      if (!it->second.lastWritten) lines.push_back(Closing(it->first, it->second));
      it = runs_.erase(it);
    } else {
      ++it;
    }
  }
  return lines;
}

}  // namespace wx
