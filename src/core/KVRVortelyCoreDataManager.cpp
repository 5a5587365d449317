// Opening and closing the database: the checks a file passes before it is
// opened for writing, the load, and the shared instance.
#include "core/KVRVortelyCoreDataManagerImpl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>


#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "platform/KVRSupportFolder.h"

KVRVortelyCoreDataManager& KVRVortelyCoreDataManager::sharedInstance() {
  static KVRVortelyCoreDataManager instance;
  return instance;
}

KVRVortelyCoreDataManager::KVRVortelyCoreDataManager()
    : d_(std::make_unique<Impl>()), busyTimeoutMs_(KVRDatabaseSchema::kBusyTimeoutMs) {}
KVRVortelyCoreDataManager::~KVRVortelyCoreDataManager() = default;

QString KVRVortelyCoreDataManager::defaultStorePath() {
  return KVRSupportFolder::file(QStringLiteral("Vortely.sqlite"));
}

bool KVRVortelyCoreDataManager::openStore(const QString& path, QString* error, std::function<void()> waitingForLock) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  closeStore();
  // The inspection connections wait likewise, and say so once.
  KVRDatabaseSchema::BusyWait wait;
  wait.timeoutMs = busyTimeoutMs_.load();
  {
    auto told = std::make_shared<std::atomic<bool>>(false);
    if (waitingForLock)
      wait.waiting = [told, waitingForLock] {
        if (!told->exchange(true)) waitingForLock();
      };
  }
  d_->busyWait = wait;
  // A refused file keeps nothing of ours beside it: the read-only connections
  // of the inspection make a log and a shared-memory file for a file in
  // write-ahead mode, and they go again unless they were there before.
  const QString wal = path + QStringLiteral("-wal"), shm = path + QStringLiteral("-shm");
  const bool walBefore = QFileInfo::exists(wal), shmBefore = QFileInfo::exists(shm);
  auto fail = [&](const QString& why) {
    d_->clear();
    if (!path.isEmpty()) {
      if (!walBefore) QFile::remove(wal);
      if (!shmBefore) QFile::remove(shm);
    }
    if (error) *error = why;
    KVRVortelyLogCenter::sharedInstance().addLogEntry(why, false, kLogKeyword);
    return false;
  };
  if (path.isEmpty()) return fail(QStringLiteral("No database file was given."));

  // An existing file is first inspected read-only, with the cheap checks
  // (its header, its page count against its size, its layout version): a
  // file that is not a database of ours is never opened for writing. The
  // integrity check reads the whole file: for a file of the current layout
  // it runs after the open, beside what follows it, and nothing is written to
  // the file until it has passed.
  const QFileInfo info(path);
  KVRDatabaseSchema::FileCheck check;
  if (info.exists() && !info.isFile()) return fail(QStringLiteral("\"%1\" is not a file.").arg(path));
  const bool existing = info.exists() && info.size() > 0;
  if (existing) {
    check = KVRDatabaseSchema::inspect(path, wait);
    if (!check.sound) return fail(check.error);
  } else {
    QDir().mkpath(info.absolutePath());
  }
  const bool checkAfterOpen = existing && !check.empty && check.version == KVRDatabaseSchema::kVersion;

  try {
    bool loaded = false;
    if (checkAfterOpen) {
      QString loadError;
      try {
        d_->db = std::make_unique<SQLite::Database>(path.toStdString(), SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX);
        KVRDatabaseSchema::waitWhenBusy(*d_->db, d_->busyWait);
        d_->load();
        loaded = true;
      } catch (const std::exception& e) {
        loadError = KVRDatabaseSchema::isBusy(e) ? KVRDatabaseSchema::busyFailure(path, wait)
                                                 : QString::fromUtf8(e.what());
      }
      if (!loaded) {
        // A damaged file is named as such.
        const QString problems = KVRDatabaseSchema::integrityProblems(path, wait);
        if (!problems.isEmpty()) return fail(problems);
        return fail(QStringLiteral("The database \"%1\" could not be read (%2).").arg(path, loadError));
      }
      d_->db.reset();
    } else if (existing) {
      // An older layout is migrated at once: checked first.
      const QString problems = KVRDatabaseSchema::integrityProblems(path, wait);
      if (!problems.isEmpty()) return fail(problems);
    }
    // Reopened for writing. SQLite's own mutex is not needed, every use of
    // the connection is under the context lock.
    d_->db = std::make_unique<SQLite::Database>(
        path.toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_NOMUTEX);
    KVRDatabaseSchema::waitWhenBusy(*d_->db, d_->busyWait);
    // SQLite quietly opens a file it may not write read-only; every later save
    // would then fail, so say it now.
    if (sqlite3_db_readonly(d_->db->getHandle(), "main") == 1)
      return fail(QStringLiteral("The database \"%1\" cannot be written (read-only file or folder).").arg(path));
    // Write-ahead mode may write the file's header, and closing a connection
    // copies a log left by an earlier session into the file: neither before
    // the check has passed.
    d_->journalModeSet = !checkAfterOpen;
    if (d_->journalModeSet) d_->db->exec("PRAGMA journal_mode = WAL");
    else d_->checkpointOnClose(false);
    d_->db->exec("PRAGMA synchronous = FULL");
    // After a large save the log shrinks back once checkpointed.
    d_->db->exec("PRAGMA journal_size_limit = 67108864");
    QString why;
    if (!KVRDatabaseSchema::prepare(*d_->db, check.empty, check.version, &why)) return fail(why);
    d_->path = path;
    if (!loaded) d_->load();
  } catch (const std::exception& e) {
    if (KVRDatabaseSchema::isBusy(e)) return fail(KVRDatabaseSchema::busyFailure(path, wait));
    return fail(QStringLiteral("The database \"%1\" could not be opened (%2).").arg(path, QString::fromUtf8(e.what())));
  }
  d_->walBefore = walBefore;
  d_->shmBefore = shmBefore;
  if (checkAfterOpen) {
    // The check waits for another program's lock without telling anyone.
    KVRDatabaseSchema::BusyWait checkWait;
    checkWait.timeoutMs = wait.timeoutMs;
    d_->startIntegrityCheck(path, checkWait);
  }
  // Saves wait for another program's lock without telling anyone.
  d_->busyWait.waiting = nullptr;
  ratingsLoaded_ = false;
  KVRVortelyLogCenter::sharedInstance().addLogEntry(
      QStringLiteral("Opened %1: %2 accounts, %3 products, %4 reports, %5 lines")
          .arg(path)
          .arg(d_->accounts.size())
          .arg(d_->products.size())
          .arg(d_->reports.size())
          .arg(d_->loadedEntryCount + d_->entryPool.count()),
      false, kLogKeyword);
  return true;
}

std::optional<KVRVortelyCoreDataManager::LoadNotice> KVRVortelyCoreDataManager::takeLoadNotice() {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  std::optional<LoadNotice> notice;
  notice.swap(d_->loadNotice);
  return notice;
}

bool KVRVortelyCoreDataManager::isOpen() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(contextLock_));
  return d_->db != nullptr;
}

QString KVRVortelyCoreDataManager::storePath() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(contextLock_));
  return d_->path;
}

void KVRVortelyCoreDataManager::closeStore() {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  // The rates derived from the store's payments name its accounts.
  KVRVortelyCurrencyConverter::sharedInstance().removeEffectiveRates();
  valuesIndex_.clear();
  // A file found damaged keeps nothing of ours beside it either.
  const bool damaged = d_->integrityFailed();
  const QString path = d_->path;
  if (d_->db && d_->integrityPassed()) d_->checkpointOnClose(true);
  d_->clear();
  if (damaged && !path.isEmpty()) {
    if (!d_->walBefore) QFile::remove(path + QStringLiteral("-wal"));
    if (!d_->shmBefore) QFile::remove(path + QStringLiteral("-shm"));
  }
  ratingsLoaded_ = false;
}

bool KVRVortelyCoreDataManager::waitForIntegrityCheck(QString* problems) { return d_->waitForIntegrity(problems); }
