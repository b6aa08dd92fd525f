#include "platform/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace wx {

QString SingleInstance::DefaultServerName() { return QStringLiteral("MyApp-%1").arg(::getuid()); }

QString SingleInstance::DefaultLockDir() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty() || !QDir().mkpath(dir)) {
    dir = QStringLiteral("/tmp/wx118-%1").arg(::getuid());
    QDir().mkpath(dir);
  }
  return dir;
}

SingleInstance::SingleInstance(QString lockDir, QString serverName)
    : serverName_(serverName.isEmpty() ? DefaultServerName() : std::move(serverName)) {
  if (lockDir.isEmpty()) lockDir = DefaultLockDir();
  lock_ = std::make_unique<QLockFile>(QDir(lockDir).filePath(QStringLiteral("MyApp")));
  // Never stale by age: a monitor runs for months. A dead owner is detected
  // by its pid, and the file lock tells a live owner from a leftover file.
  lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::TryBecomePrimary() {
  if (lock_->isLocked()) return true;
  if (lock_->tryLock(0)) return true;
  // A file its owner no longer holds (crash, unreadable contents): only
  // removable when no live process keeps it locked.
  if (lock_->error() == QLockFile::LockFailedError && lock_->removeStaleLockFile()) return lock_->tryLock(0);
  // The lock cannot be made at all (no such folder, no permission): run as
  // if this were the only copy.
  return lock_->error() != QLockFile::LockFailedError;
}

bool SingleInstance::ListenForRestore(std::function<void()> onRestore) {
  QLocalServer::removeServer(serverName_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(serverName_)) return false;
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

}  // namespace wx
