// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

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

constexpr const char kRestoreWord[] = "restore";
constexpr int kMostPendingCopies = 16;  // a copy says one word and goes

// The socket's address; false when the path does not fit.
bool SocketAddress(const QString& name, sockaddr_un& address) {
  const std::string path = (name.contains('/') ? name : QDir(QDir::tempPath()).filePath(name)).toStdString();
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

// The listening socket and the copies that connected to it, each read until
// it has said its word or gone.
struct SingleInstance::Listener {
  struct Copy {
    std::unique_ptr<QSocketNotifier> notifier;
    std::string heard;
  };
  int fd = -1;
  std::string path;  // removed at the end, as it was bound
  std::unique_ptr<QSocketNotifier> notifier;
  std::map<int, Copy> copies;
  std::function<void()> onRestore;

  ~Listener() {
    for (auto& [copyFd, copy] : copies) {
      copy.notifier.reset();
      ::close(copyFd);
    }
    notifier.reset();
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
  }
  void Accept() {
    for (;;) {
      const int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (c < 0) return;
      if (copies.size() >= kMostPendingCopies) {
        ::close(c);
        continue;
      }
      Copy& copy = copies[c];
      copy.notifier = std::make_unique<QSocketNotifier>(c, QSocketNotifier::Read);
      QObject::connect(copy.notifier.get(), &QSocketNotifier::activated, [this, c] { Read(c); });
    }
  }
  void Read(int c) {
    const auto it = copies.find(c);
    if (it == copies.end()) return;
    Copy& copy = it->second;
    char buf[64];
    const ssize_t n = ::recv(c, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n > 0) copy.heard.append(buf, size_t(n));
    const bool restore = copy.heard.find(kRestoreWord) != std::string::npos;
    if (!restore && n > 0 && copy.heard.size() < 64) return;
    // Heard, gone, or talking nonsense: done with this copy. Its notifier
    // goes later, as it may be the one calling.
    copy.notifier->setEnabled(false);
    copy.notifier.release()->deleteLater();
    copies.erase(it);
    ::close(c);
    if (restore && onRestore) onRestore();
  }
};

std::optional<QString> SingleInstance::PrivateRuntimeDir(std::string* problem) {
  std::string dir;
  std::string why;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg == '/') {
    // The runtime folder is shared by every program of this user: the lock
    // goes into a folder of the monitor's own, so that another program's
    // file of the same name is never taken for a running copy.
    dir = xdg;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    // Named but not made yet (a unit started before the session made it):
    // made as the toolkit makes it, for this user alone.
    if (struct stat st {}; ::stat(dir.c_str(), &st) != 0 && errno == ENOENT) {
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), ec);
      ::mkdir(dir.c_str(), 0700);
    }
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
  sockaddr_un address{};
  auto fail = [&](const std::string& why) {
    problem_ = "cannot listen for a second copy's requests on " + serverName_.toStdString() + ": " + why +
               "; a second copy will not bring this one to the front";
    listener_.reset();
    return false;
  };
  if (!SocketAddress(serverName_, address)) return fail("the name is too long for a local socket");
  listener_ = std::make_unique<Listener>();
  listener_->onRestore = std::move(onRestore);
  listener_->fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_->fd < 0) return fail(std::strerror(errno));
  // Our own folder, and we hold the lock: whatever sits there is a leftover.
  ::unlink(address.sun_path);
  if (::bind(listener_->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(address.sun_path, 0600) != 0 || ::listen(listener_->fd, kMostPendingCopies) != 0)
    return fail(std::strerror(errno));
  listener_->path = address.sun_path;
  listener_->notifier = std::make_unique<QSocketNotifier>(listener_->fd, QSocketNotifier::Read);
  Listener* l = listener_.get();
  QObject::connect(l->notifier.get(), &QSocketNotifier::activated, [l] { l->Accept(); });
  return true;
}

bool SingleInstance::SendRestore(const QString& serverName) {
  sockaddr_un address{};
  if (serverName.isEmpty() || !SocketAddress(serverName, address)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // A copy that does not take the word within a second is not waited for.
  const timeval second{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                  ::send(fd, kRestoreWord, sizeof kRestoreWord - 1, MSG_NOSIGNAL) == sizeof kRestoreWord - 1;
  ::close(fd);
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
