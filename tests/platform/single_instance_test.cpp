// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLockFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wx {
namespace {

QString UniqueName() { return "wx118-test-" + QUuid::createUuid().toString(QUuid::Id128); }

TEST(SingleInstanceTest, SecondCopyIsRefusedWhileTheFirstHoldsTheLock) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  auto first = std::make_unique<SingleInstance>(dir.path(), UniqueName());
  ASSERT_EQ(first->TryBecomePrimary(), SingleInstance::Claim::Primary);
  SingleInstance second(dir.path(), UniqueName());
  EXPECT_EQ(second.TryBecomePrimary(), SingleInstance::Claim::OtherCopyRuns);
  EXPECT_EQ(second.HolderPid(), ::getpid());
  EXPECT_TRUE(QFile::exists(dir.filePath("MyApp")));  // the holder's file survives
  first.reset();
  EXPECT_EQ(second.TryBecomePrimary(), SingleInstance::Claim::Primary);
}

TEST(SingleInstanceTest, LockLeftByACrashedCopyOrUnreadableDoesNotBlock) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);  // now a pid that no process has
  for (const QByteArray& content :
       {QByteArray::number(child) + "\nwx118\n" + QSysInfo::machineHostName().toUtf8() + "\n",
        QByteArray("garbage")}) {
    QFile f(dir.filePath("MyApp"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
    SingleInstance copy(dir.path(), UniqueName());
    EXPECT_EQ(copy.TryBecomePrimary(), SingleInstance::Claim::Primary) << content.constData();
  }
}

// Without XDG_RUNTIME_DIR the lock goes to a folder of our own under
// TMPDIR: made private when missing, refused when it is not ours alone.
TEST(SingleInstanceTest, FallbackFolderMustBeOursAlone) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QByteArray oldXdg = qgetenv("XDG_RUNTIME_DIR"), oldTmp = qgetenv("TMPDIR");
  qunsetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", tmp.path().toUtf8());
  const std::string own = tmp.path().toStdString() + "/wx118-" + std::to_string(::getuid());
  std::string problem;
  const auto dir = SingleInstance::PrivateRuntimeDir(&problem);
  ASSERT_TRUE(dir.has_value()) << problem;
  EXPECT_EQ(dir->toStdString(), own);
  struct stat st {};
  ASSERT_EQ(::stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Opened up to others (as a folder planted by another user would be).
  ::chmod(own.c_str(), 0777);
  EXPECT_FALSE(SingleInstance::PrivateRuntimeDir(&problem).has_value());
  EXPECT_NE(problem.find("others can write in it (mode 0777)"), std::string::npos) << problem;
  SingleInstance refused;
  EXPECT_EQ(refused.TryBecomePrimary(), SingleInstance::Claim::Refused);
  // A link in its place is not followed.
  ::rmdir(own.c_str());
  ASSERT_EQ(::symlink(tmp.path().toUtf8().constData(), own.c_str()), 0);
  EXPECT_FALSE(SingleInstance::PrivateRuntimeDir(&problem).has_value());
  EXPECT_NE(problem.find("not a folder"), std::string::npos) << problem;
  qputenv("XDG_RUNTIME_DIR", oldXdg);
  qputenv("TMPDIR", oldTmp);
  if (oldXdg.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
  if (oldTmp.isEmpty()) qunsetenv("TMPDIR");
}

// The lock lives in a folder of the monitor's own in the runtime folder,
// which every program of the user shares: another program's "MyApp" is not
// a running monitor.
TEST(SingleInstanceTest, RuntimeFolderHoldsTheLockInAFolderOfItsOwn) {
  QTemporaryDir run;
  ::chmod(run.path().toUtf8().constData(), 0700);
  const QByteArray oldXdg = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", run.path().toUtf8() + "/");
  QLockFile foreign(run.filePath("MyApp"));
  ASSERT_TRUE(foreign.tryLock(0));
  const std::string own = run.path().toStdString() + "/wx118";
  EXPECT_EQ(SingleInstance::DefaultServerName().toStdString(), own + "/MyApp.socket");
  struct stat st {};
  EXPECT_TRUE(::lstat(own.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
  EXPECT_EQ(SingleInstance().TryBecomePrimary(), SingleInstance::Claim::Primary);
  ::chmod(own.c_str(), 0770);  // checked as the fallback folder is
  EXPECT_EQ(SingleInstance().TryBecomePrimary(), SingleInstance::Claim::Refused);
  qputenv("XDG_RUNTIME_DIR", oldXdg);
  if (oldXdg.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
}

TEST(SingleInstanceTest, DataFolderIsLockedForTheWholeRun) {
  QTemporaryDir dir;
  const std::filesystem::path folder = dir.filePath("c").toStdString();
  DataFolderLock first;
  ASSERT_EQ(first.Acquire(folder), DataFolderLock::Result::Held) << first.Problem();
  // Another process (its own open file) finds it held, and by whom.
  const pid_t child = fork();
  if (child == 0) {
    DataFolderLock second;
    _exit(second.Acquire(folder) == DataFolderLock::Result::HeldElsewhere && second.HolderPid() == getppid() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SingleInstanceTest, RestoreRequestReachesTheListener) {
  const QString name = UniqueName();
  QTemporaryDir dir;
  SingleInstance primary(dir.path(), name);
  EXPECT_FALSE(SingleInstance::SendRestore(name));  // nobody listens yet
  QEventLoop loop;
  int restores = 0;
  ASSERT_TRUE(primary.ListenForRestore([&] {
    ++restores;
    loop.quit();
  }));
  ASSERT_TRUE(SingleInstance::SendRestore(name));
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);  // bound only
  loop.exec();
  EXPECT_EQ(restores, 1);
  // A socket that cannot listen is said, not ignored.
  SingleInstance nowhere(dir.path(), dir.filePath("no-such-folder/MyApp.socket"));
  EXPECT_FALSE(nowhere.ListenForRestore([] {}));
  EXPECT_NE(nowhere.Problem().find("cannot listen"), std::string::npos) << nowhere.Problem();
}

}  // namespace
}  // namespace wx
