// SPDX-License-Identifier: GPL-2.0-or-later
// Only one monitor per user and per data folder. The first copy holds a lock
// file and listens on a local socket, both in a folder that this user alone
// can write; a later copy asks it to come to the front and exits. The data
// folder is locked as well, so that two copies started with different
// environments (a terminal, cron, a boot unit) never write the same files.
#pragma once
#include <sys/types.h>

#include <QLockFile>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wx {

class SingleInstance {
 public:
  enum class Claim { Primary, OtherCopyRuns, Refused };
  // Empty arguments pick the per-user defaults (tests pass their own).
  explicit SingleInstance(QString lockDir = {}, QString serverName = {});
  ~SingleInstance();
  // Primary when this process now holds the lock (a lock left by a crashed
  // copy is taken over); Refused, with Problem(), when the lock's folder is
  // not this user's alone. A lock that cannot be made at all is no reason
  // to stop: Primary, with Problem() saying why there is no lock.
  Claim TryBecomePrimary();
  const std::string& Problem() const { return problem_; }
  // The process id written in the lock by the copy that holds it (0 unknown).
  qint64 HolderPid() const;
  // Calls onRestore (on the GUI thread) whenever a later copy sends a
  // request; false, with Problem(), when the socket cannot listen.
  bool ListenForRestore(std::function<void()> onRestore);
  // Asks the primary copy to restore its windows; false when none answered
  // within two seconds. A name without a folder is taken in the temporary
  // folder.
  static bool SendRestore(const QString& serverName = DefaultServerName());
  static QString DefaultServerName();
  // The folder wx118 in $XDG_RUNTIME_DIR, else a folder wx118-UID under
  // $TMPDIR or /tmp, made with mode 0700; nullopt, with problem set, when
  // that folder (or the runtime folder) is not this user's alone (another
  // user may have put it there).
  static std::optional<QString> PrivateRuntimeDir(std::string* problem = nullptr);

 private:
  QString serverName_;
  std::unique_ptr<QLockFile> lock_;
  struct Listener;  // a plain local socket: no network library for one word
  std::unique_ptr<Listener> listener_;
  std::string problem_;
};

// An exclusive lock on a data folder for the whole run.
class DataFolderLock {
 public:
  enum class Result { Held, HeldElsewhere, Failed };
  ~DataFolderLock();
  Result Acquire(const std::filesystem::path& folder);
  pid_t HolderPid() const { return holder_; }
  const std::string& Problem() const { return problem_; }

 private:
  int fd_ = -1;
  pid_t holder_ = 0;
  std::string problem_;
};

}  // namespace wx
