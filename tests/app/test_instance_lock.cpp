// One Vortely per support folder: a second start on a folder that a running
// Vortely holds quits by itself and writes nothing; a lock left by a crashed
// run is taken over, a lock of a live run never is.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "app/KVRInstanceLock.h"
#include "core/KVRVortelyCoreDataManager.h"

namespace {

KVRVortelyCoreDataManager& dm() { return KVRVortelyCoreDataManager::sharedInstance(); }

// Every file under a folder with its bytes.
std::map<QString, QByteArray> contents(const QString& folder) {
  std::map<QString, QByteArray> files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile f(path);
    files[QDir(folder).relativeFilePath(path)] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?");
  }
  return files;
}

}  // namespace

TEST(InstanceLock, ASecondStartOnAHeldFolderQuitsByItselfAndWritesNothing) {
  // The program is built beside the tests' folder.
  QString binDir = qEnvironmentVariable("VORTELY_TEST_BINARY_DIR");
  if (binDir.isEmpty()) binDir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
  const QString vortely = QDir(binDir).absoluteFilePath(QStringLiteral("vortely"));
  ASSERT_TRUE(QFileInfo(vortely).isExecutable()) << vortely.toStdString();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString support = dir.filePath("support");
  const QString store = support + QStringLiteral("/Vortely.sqlite");
  ASSERT_TRUE(QDir().mkpath(support));

  // The first Vortely: it holds the folder and has its store open.
  KVRInstanceRefusal refusal;
  std::unique_ptr<KVRSupportFolderLock> first = KVRClaimSupportFolder(support, &refusal);
  ASSERT_TRUE(first);
  QString error;
  ASSERT_TRUE(dm().openStore(store, &error)) << error.toStdString();
  dm().insertStoreAccount()->name = QStringLiteral("Beta Apps");
  ASSERT_TRUE(dm().save(&error)) << error.toStdString();
  const std::map<QString, QByteArray> before = contents(support);
  ASSERT_TRUE(before.count(QStringLiteral("Vortely.sqlite")));
  ASSERT_TRUE(before.count(KVRSupportFolderLock::lockFileName()));

  // The second start, the real program, on the same folder with settings of its own.
  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("VORTELY_SUPPORT_FOLDER", support);
  env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  env.insert("XDG_DATA_HOME", dir.filePath("data"));
  env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
  second.setProcessEnvironment(env);
  second.start(vortely, {});
  const bool quit = second.waitForFinished(60000);
  if (!quit) {
    second.kill();
    second.waitForFinished();
  }
  ASSERT_TRUE(quit) << "the second start kept running";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 1);
  const QString said = QString::fromLocal8Bit(second.readAllStandardError());
  EXPECT_TRUE(said.contains("Vortely is already open")) << said.toStdString();
  EXPECT_TRUE(said.contains(QStringLiteral("Vortely already has the folder “%1” open").arg(support)))
      << said.toStdString();

  // Nothing written: the store, the lock and the folder as they were, no settings.
  EXPECT_EQ(contents(support), before);
  EXPECT_TRUE(contents(dir.filePath("config")).empty());
  EXPECT_TRUE(first->isLocked());

  dm().closeStore();
  first.reset();
  EXPECT_FALSE(QFileInfo::exists(support + "/" + KVRSupportFolderLock::lockFileName()));
}

TEST(InstanceLock, ALockLeftByACrashIsTakenOverAndALiveOneNeverIs) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString lockPath = dir.filePath(KVRSupportFolderLock::lockFileName());

  // A run that ends without releasing its lock, as a crash does.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    KVRSupportFolderLock lock(dir.path());
    _exit(lock.tryLock() == KVRSupportFolderLock::Acquired ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(QFileInfo::exists(lockPath));

  KVRSupportFolderLock next(dir.path());
  EXPECT_EQ(next.tryLock(), KVRSupportFolderLock::Acquired);

  // A lock of a live run, hours old, stays its own.
  {
    QFile file(lockPath);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-6 * 3600), QFileDevice::FileModificationTime));
  }
  KVRSupportFolderLock other(dir.path());
  EXPECT_EQ(other.tryLock(), KVRSupportFolderLock::HeldByAnotherInstance);
  EXPECT_EQ(other.holderPid(), qint64(getpid()));
  KVRInstanceRefusal refusal;
  EXPECT_FALSE(KVRClaimSupportFolder(dir.path(), &refusal));
  EXPECT_EQ(refusal.title, "Vortely is already open");

  next.unlock();
  EXPECT_EQ(other.tryLock(), KVRSupportFolderLock::Acquired);
}
