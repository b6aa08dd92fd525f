// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QLocalSocket>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace wx {
namespace {

// "" when path is a folder (not a link) of this user that nobody else can
// write, else what is wrong with it.
std::string NotPrivateReason(const std::string& path, bool followLink) {
  struct stat st {};
  if ((followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
    return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "it is not a folder";
  if (st.st_uid != ::getuid())
    return "it belongs to user id " + std::to_string(st.st_uid) + ", not to you (user id " +
           std::to_string(::getuid()) + ")";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("others can write in it (mode ") + mode + ")";
  }
  return "";
}

}  // namespace

std::optional<QString> SingleInstance::PrivateRuntimeDir(std::string* problem) {
  std::string dir;
  std::string why;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg == '/') {
    // The runtime folder is shared by every program of this user: the lock
    // goes into a folder of the monitor's own, so that another program's
    // file of the same name is never taken for a running copy.
    dir = xdg;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    why = NotPrivateReason(dir, true);
    if (why.empty()) dir += "/wx118";
  } else {
    // No runtime folder (cron, su, ssh): one of our own in the shared
    // temporary folder.
    const char* tmp = std::getenv("TMPDIR");
    dir = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/wx118-" + std::to_string(::getuid());
  }
  // Made here with no access for others; one that was there already must be
  // a folder of ours alone, not a link.
  if (why.empty() && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) why = std::strerror(errno);
  if (why.empty()) why = NotPrivateReason(dir, false);
  if (why.empty()) return QString::fromStdString(dir);
  if (problem)
    *problem = "the folder " + dir + " for the single-instance lock cannot be used: " + why +
               ". Another user may have made it; remove it, or set XDG_RUNTIME_DIR to a folder "
               "of your own (mode 0700).";
  return std::nullopt;
}

QString SingleInstance::DefaultServerName() {
  const std::optional<QString> dir = PrivateRuntimeDir();
  return dir ? QDir(*dir).filePath(QStringLiteral("MyApp.socket")) : QString();
}

SingleInstance::SingleInstance(QString lockDir, QString serverName) : serverName_(std::move(serverName)) {
  if (lockDir.isEmpty()) {
    const std::optional<QString> dir = PrivateRuntimeDir(&problem_);
    if (!dir) return;
    lockDir = *dir;
  }
  if (serverName_.isEmpty()) serverName_ = QDir(lockDir).filePath(QStringLiteral("MyApp.socket"));
  lock_ = std::make_unique<QLockFile>(QDir(lockDir).filePath(QStringLiteral("MyApp")));
  // Never stale by age: a monitor runs for months. A dead owner is detected
  // by its pid, and the file lock tells a live owner from a leftover file.
  lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::TryBecomePrimary() {
  if (!lock_) return Claim::Refused;
  if (lock_->isLocked() || lock_->tryLock(0)) return Claim::Primary;
  // A file its owner no longer holds (crash, unreadable contents): only
  // removable when no live process keeps it locked.
  if (lock_->error() == QLockFile::LockFailedError) {
    if (lock_->removeStaleLockFile() && lock_->tryLock(0)) return Claim::Primary;
    if (lock_->error() == QLockFile::LockFailedError) return Claim::OtherCopyRuns;
  }
  // The lock cannot be made at all: run as if this were the only copy (the
  // data folder's own lock still keeps a second copy off the files).
  problem_ = "cannot make the single-instance lock " + lock_->fileName().toStdString() + " (" +
             (lock_->error() == QLockFile::PermissionError ? "permission denied" : "unknown error") +
             "); going on without it";
  return Claim::Primary;
}

qint64 SingleInstance::HolderPid() const {
  qint64 pid = 0;
  QString host, app;
  if (lock_ && lock_->getLockInfo(&pid, &host, &app)) return pid;
  return 0;
}

bool SingleInstance::ListenForRestore(std::function<void()> onRestore) {
  if (serverName_.isEmpty()) return false;
  // Our own folder, and we hold the lock: whatever sits there is a leftover.
  QLocalServer::removeServer(serverName_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(serverName_)) {
    problem_ = "cannot listen for a second copy's requests on " + serverName_.toStdString() + ": " +
               server_->errorString().toStdString() + "; a second copy will not bring this one to the front";
    server_.reset();
    return false;
  }
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this, onRestore] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      auto check = [s, onRestore] {
        if (s->property("done").toBool()) return;
        if (s->bytesAvailable() >= 7 && s->peek(64).contains("restore")) {
          s->setProperty("done", true);
          s->readAll();
          if (onRestore) onRestore();
        }
      };
      QObject::connect(s, &QLocalSocket::readyRead, s, check);
      QObject::connect(s, &QLocalSocket::disconnected, s, [s, check] {
        check();
        s->deleteLater();
      });
      check();
    }
  });
  return true;
}

bool SingleInstance::SendRestore(const QString& serverName) {
  if (serverName.isEmpty()) return false;
  QLocalSocket s;
  s.connectToServer(serverName);
  if (!s.waitForConnected(1000)) return false;
  s.write("restore");
  s.flush();
  const bool ok = s.bytesToWrite() == 0 || s.waitForBytesWritten(1000);
  s.disconnectFromServer();
  if (s.state() != QLocalSocket::UnconnectedState) s.waitForDisconnected(500);
  return ok;
}

DataFolderLock::~DataFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

DataFolderLock::Result DataFolderLock::Acquire(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::filesystem::path file = folder / ".wx118.lock";
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  // flock needs no write access: a lock file made by someone else still locks.
  if (fd_ < 0 && errno == EACCES) fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    problem_ = "cannot lock the data folder " + folder.string() + " (" + file.filename().string() + ": " +
               (fd_ < 0 ? std::strerror(errno) : "not a regular file") + ")";
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return Result::Failed;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    char buf[32] = {};
    if (::pread(fd_, buf, sizeof buf - 1, 0) > 0) holder_ = static_cast<pid_t>(std::atol(buf));
    ::close(fd_);
    fd_ = -1;
    if (err == EWOULDBLOCK) return Result::HeldElsewhere;
    problem_ = "cannot lock the data folder " + folder.string() + ": " + std::strerror(err);
    return Result::Failed;
  }
  // The holder's id, for the message of a second copy.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
    // Only the message of a later copy loses the number.
  }
  return Result::Held;
}

}  // namespace wx
