// Only one monitor per user: the first copy holds a lock file and listens on a
// local socket; a later copy asks it to come to the front and exits.
#pragma once
#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

namespace wx {

class SingleInstance {
 public:
  // Empty arguments pick the per-user defaults (tests pass their own).
  explicit SingleInstance(QString lockDir = {}, QString serverName = {});
  ~SingleInstance();
  // True when this process now holds the lock. A lock left by a crashed copy
  // is taken over.
  bool TryBecomePrimary();
  // Calls onRestore (on the GUI thread) whenever a later copy sends a request.
  bool ListenForRestore(std::function<void()> onRestore);
  // Asks the primary copy to restore its windows; false when none answered
  // within two seconds.
  static bool SendRestore(const QString& serverName = DefaultServerName());
  static QString DefaultServerName();
  static QString DefaultLockDir();

 private:
  QString serverName_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace wx
