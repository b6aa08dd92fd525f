#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wx {
namespace {

QString UniqueName() { return "wx118-test-" + QUuid::createUuid().toString(QUuid::Id128); }

TEST(SingleInstanceTest, SecondCopyIsRefusedWhileTheFirstHoldsTheLock) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  auto first = std::make_unique<SingleInstance>(dir.path(), UniqueName());
  ASSERT_TRUE(first->TryBecomePrimary());
  SingleInstance second(dir.path(), UniqueName());
  EXPECT_FALSE(second.TryBecomePrimary());
  EXPECT_TRUE(QFile::exists(dir.filePath("MyApp")));  // the holder's file survives
  first.reset();
  EXPECT_TRUE(second.TryBecomePrimary());
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
    EXPECT_TRUE(copy.TryBecomePrimary()) << content.constData();
  }
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
}

}  // namespace
}  // namespace wx
