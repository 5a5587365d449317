#include "platform/KVRSupportFolder.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include "platform/KVRLocalization.h"

namespace KVRSupportFolder {

QString path() {
  QString p = qEnvironmentVariable("VORTELY_SUPPORT_FOLDER");
  if (p.isEmpty())
    p = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Pelliro/Vortely");
  QDir().mkpath(p);
  return p;
}

QString file(const QString& name) { return path() + QLatin1Char('/') + name; }

}  // namespace KVRSupportFolder

KVRSupportFolderLock::KVRSupportFolderLock(const QString& folder) : folder_(folder) {
  lock_ = std::make_unique<QLockFile>(lockFilePath());
  // Age never makes a lock stale: only the death of the process holding it.
  lock_->setStaleLockTime(0);
}

KVRSupportFolderLock::~KVRSupportFolderLock() { unlock(); }

QString KVRSupportFolderLock::lockFileName() { return QStringLiteral("Vortely.lock"); }

QString KVRSupportFolderLock::lockFilePath() const { return folder_ + QLatin1Char('/') + lockFileName(); }

bool KVRSupportFolderLock::isLocked() const { return lock_->isLocked(); }

void KVRSupportFolderLock::unlock() {
  if (lock_->isLocked()) lock_->unlock();
}

KVRSupportFolderLock::Outcome KVRSupportFolderLock::tryLock() {
  holderPid_ = 0;
  error_.clear();
  if (lock_->isLocked()) return Acquired;
  if (!QDir().mkpath(folder_)) {
    error_ = KVRLocalized("The folder “%1” cannot be created.").arg(QDir::toNativeSeparators(folder_));
    return Failed;
  }
  // A stale lock (its process gone) is removed and taken by tryLock itself.
  if (lock_->tryLock(0)) return Acquired;
  switch (lock_->error()) {
    case QLockFile::LockFailedError: {
      qint64 pid = 0;
      QString host, application;
      if (lock_->getLockInfo(&pid, &host, &application)) holderPid_ = pid;
      return HeldByAnotherInstance;
    }
    case QLockFile::PermissionError:
      error_ = KVRLocalized("The lock file “%1” cannot be written.").arg(QDir::toNativeSeparators(lockFilePath()));
      return Failed;
    default:
      error_ = KVRLocalized("The lock file “%1” cannot be used.").arg(QDir::toNativeSeparators(lockFilePath()));
      return Failed;
  }
}
