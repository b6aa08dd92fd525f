// SPDX-License-Identifier: GPL-2.0-or-later
#include "datalog/data_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "datalog/records.h"
#include "datalog/stamps.h"
#include "platform/file_checks.h"

namespace wx {
namespace {

void SyncFolder(const std::filesystem::path& file) {
  const auto folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  const int d = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d >= 0) {
    ::fsync(d);
    ::close(d);
  }
}

// The text after the last line end of a file of the given size (at most 80
// characters of it, for a message).
std::string UnfinishedLine(int fd, off_t size) {
  constexpr off_t kLook = 256;
  const off_t from = size > kLook ? size - kLook : 0;
  std::string buf(static_cast<size_t>(size - from), '\0');
  const ssize_t got = ::pread(fd, buf.data(), buf.size(), from);
  if (got <= 0) return "";
  buf.resize(static_cast<size_t>(got));
  const size_t nl = buf.find_last_of("\r\n");
  if (nl != std::string::npos) buf.erase(0, nl + 1);
  std::string shown = buf.size() > 80 ? buf.substr(buf.size() - 80) : buf;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  return shown;
}

}  // namespace

DataLog::DataLog(const FileLocations& files, const PathMapper& paths, const Clock& clock, Ui& ui,
                 ErrorSink& errors, MainView& mainView)
    : files_(files), paths_(paths), clock_(clock), ui_(ui), errors_(errors), mainView_(mainView),
      write_([](int fd, const void* data, size_t size) { return ::write(fd, data, size); }) {}

DataLog::~DataLog() { Close(); }

std::string DataLog::Shown() const { return paths_.Shown(files_.dataLogPath); }

bool DataLog::OpenForAppend() {
  const auto path = paths_.Map(files_.dataLogPath);
  // Checked first, and O_NONBLOCK: a FIFO in the log's place must not hang
  // the program, a device must not take the records.
  openFailure_ = NotRegularFileReason(path);
  if (openFailure_.empty()) {
    fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
      openErrno_ = errno;
      openFailure_ = std::strerror(errno);
      return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return true;
    openFailure_ = "it is not a regular file";
  }
  openErrno_ = EINVAL;
  Close();
  return false;
}

bool DataLog::OpenCurrentFile(std::string& header) {
  const auto path = paths_.Map(files_.dataLogPath);
  if (fd_ >= 0) {
    struct stat named {}, held {};
    if (::stat(path.c_str(), &named) == 0 && ::fstat(fd_, &held) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino)
      return true;
    Close();
  }
  if (!LogDataToFile) return false;
  const char* why = nullptr;
  if (OpenForAppend()) {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size != 0) return true;
    why = "was empty";
  } else if (openErrno_ == ENOENT) {
    fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      openErrno_ = errno;
      openFailure_ = std::strerror(errno);
      return false;
    }
    SyncFolder(path);
    why = "was gone";
  } else {
    return false;
  }
  header = HeaderTitleLine() + "\r\n" + HeaderCreatedLine(StampNow(clock_)) + "\r\n";
  errors_.ShowError("During AppendLogLine, the data log " + Shown() + " " + why +
                    " (moved away by log rotation?); a new one was started with its header lines");
  return true;
}

void DataLog::OpenDataLog() {
  Close();
  const auto path = paths_.Map(files_.dataLogPath);
  struct stat st {};
  const bool missing = ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
  // A kill right after creation leaves an empty file: that is a new log too.
  const bool empty = !missing && S_ISREG(st.st_mode) && st.st_size == 0;
  if (missing || empty) {
    ui_.ShowMessage("Unable to find old data log. A new one will be created at " + Shown() +
                    (empty ? ". The file there is empty, so it is started as a new one." : ""));
    std::error_code ec;
    // A fresh installation has no data root yet: make the folders the path names.
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    // O_EXCL: never clobber a log that appeared meanwhile.
    if (missing) {
      fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd_ < 0) openFailure_ = std::strerror(errno);
    } else {
      OpenForAppend();
    }
    if (fd_ >= 0) {
      SyncFolder(path);
      // The header goes through AppendLogLine, which reopens after each line
      // only while logging is on.
      const bool logging = LogDataToFile;
      LogDataToFile = true;
      AppendLogLine(HeaderTitleLine());
      AppendLogLine(HeaderCreatedLine(StampNow(clock_)));
      LogDataToFile = logging;
      Close();
    } else if (!LogDataToFile) {
      errors_.ShowError("During OpenDataLog, unable to create " + Shown() + ": " +
                        openFailure_);
    }
  }
  if (!LogDataToFile) return;
  if (!OpenForAppend()) {
    ui_.ShowMessage("Unable to establish Data Log File " + Shown() + ": " + openFailure_);
    LogDataToFile = false;
    if (quit_) quit_();
  }
}

bool DataLog::WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write_(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void DataLog::AppendLogLine(const std::string& line) {
  mainView_.buQuitEnabled = false;
  DataLogWriteBusy = true;
  // A line break inside the text would split one record into two lines.
  std::string text = line;
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';

  std::string header;
  if (!OpenCurrentFile(header)) {
    errors_.ShowError("During AppendLogLine, the data log " + Shown() + " is not open" +
                      (LogDataToFile ? " (" + openFailure_ + ")" : std::string()) +
                      "; line not written: " + text);
  } else {
    struct stat st {};
    const off_t oldSize = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
    std::string bytes = header;
    // A line left unfinished (a crash, a power loss) must not swallow this
    // record: it is ended where it stops and marked for the replay.
    if (oldSize > 0) {
      char last = '\n';
      if (::pread(fd_, &last, 1, oldSize - 1) == 1 && last != '\n') {
        if (last == '\r') {
          bytes = "\n";  // only the line feed was lost
        } else {
          const std::string part = UnfinishedLine(fd_, oldSize);
          errors_.ShowError("During AppendLogLine, the data log " + Shown() +
                            " ended in a line cut short when written (crash or power loss?); it is kept "
                            "on a line of its own: \"" + part + "\"");
          bytes = "\r\n" + CutShortCommentRecord(StampNow(clock_)) + "\r\n";
        }
      }
    }
    bytes += text;
    bytes += "\r\n";
    if (!WriteAll(bytes)) {
      const int err = errno;
      // Take back a partial line so that the file holds whole records only.
      if (oldSize >= 0 && ::ftruncate(fd_, oldSize) != 0) {
        // Could not cut it back: the next line starts on a line of its own (see above).
      }
      errors_.ShowError("During AppendLogLine, I/O error writing the data log " +
                        Shown() + ": " + std::strerror(err) + "; line not written: " + text);
    } else if (::fdatasync(fd_) != 0 && errno != EINVAL) {
      errors_.ShowError("During AppendLogLine, I/O error syncing the data log " +
                        Shown() + ": " + std::strerror(errno));
    }
    // Close and reopen after every line, so nothing stays buffered.
    Close();
    // A file moved away meanwhile is started again with the next line.
    if (LogDataToFile && !OpenForAppend() && openErrno_ != ENOENT)
      errors_.ShowError("During AppendLogLine, unable to reopen the data log " + Shown() + ": " +
                        openFailure_);
  }
  mainView_.buQuitEnabled = true;
  DataLogWriteBusy = false;
}

void DataLog::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void DataLog::buInsCmntClick() {
  const char* kClosed = "The data log is closed, so no comment can be added to it now.";
  if (!LogDataToFile) {
    ui_.ShowMessage(kClosed);
    return;
  }
  std::string text = ui_.InputBox(
      "Add comment to Weather datafile",
      "What you enter will be prefixed 'cm<datestamp> By hand:' and a date/timestamp", "");
  if (text.size() >= 2 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(text[1])) == 'M')
    text.erase(0, 2);
  // The box pumps messages; logging may have stopped while it was open.
  if (!LogDataToFile) {
    ui_.ShowMessage(std::string(kClosed) + " Your comment was: " + text);
    return;
  }
  AppendLogLine(HandCommentRecord(StampNow(clock_), text));
}

}  // namespace wx
