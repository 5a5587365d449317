#include "core/KVRDatabaseSchema.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace KVRDatabaseSchema {
namespace {

// Dates are stored as REAL milliseconds since 1970 (NULL: no date); money per
// unit in integer hundredths; ad figures and reconciled amounts as REAL.
// Relationships are the *_id columns of the owned side; the in-memory context
// rebuilds both directions on load. No secondary index: the program never
// queries the file, it loads it whole, and bulk saves stay fast.
const char* const kCreateStatements[] = {
    "CREATE TABLE StoreAccount (id INTEGER PRIMARY KEY, name TEXT, developer TEXT, login TEXT,"
    " password TEXT, icon BLOB)",
    "CREATE TABLE Product (id INTEGER PRIMARY KEY, account_id INTEGER, idStore INTEGER NOT NULL DEFAULT 0,"
    " name TEXT, category TEXT, bundleIdentifier TEXT, version TEXT, free INTEGER NOT NULL DEFAULT 0,"
    " firstDate REAL, lastDate REAL, iconData BLOB)",
    "CREATE TABLE Report (id INTEGER PRIMARY KEY, account_id INTEGER, filename TEXT,"
    " type INTEGER NOT NULL DEFAULT 0, beginDate REAL, endDate REAL, status INTEGER NOT NULL DEFAULT -1,"
    " pointedIncome REAL NOT NULL DEFAULT -1, pointedDate REAL, pointedAccount TEXT)",
    "CREATE TABLE ReportEntry (id INTEGER PRIMARY KEY, product_id INTEGER, report_id INTEGER,"
    " type INTEGER NOT NULL DEFAULT 0, subType INTEGER NOT NULL DEFAULT 0, count INTEGER NOT NULL DEFAULT 0,"
    " income INTEGER NOT NULL DEFAULT 0, currency TEXT, country TEXT, beginDate REAL, endDate REAL)",
    "CREATE TABLE iAdReportEntry (id INTEGER PRIMARY KEY, product_id INTEGER, report_id INTEGER,"
    " date REAL, country TEXT, revenue REAL NOT NULL DEFAULT 0, requests REAL NOT NULL DEFAULT 0,"
    " impressions REAL NOT NULL DEFAULT 0, fillRate REAL NOT NULL DEFAULT 0, ctr REAL NOT NULL DEFAULT 0,"
    " eCPM REAL NOT NULL DEFAULT 0)",
    "CREATE TABLE Rating (id INTEGER PRIMARY KEY, product_id INTEGER, country TEXT,"
    " stars INTEGER NOT NULL DEFAULT 0, allVersions INTEGER NOT NULL DEFAULT 1,"
    " count INTEGER NOT NULL DEFAULT 0, newCount INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE Cost (id INTEGER PRIMARY KEY, product_id INTEGER, name TEXT, value REAL NOT NULL DEFAULT 0)",
    "CREATE TABLE Partner (id INTEGER PRIMARY KEY, product_id INTEGER, name TEXT,"
    " cost REAL NOT NULL DEFAULT 0, royalties REAL NOT NULL DEFAULT 0)",
};

// Migration steps: kMigrations[v - 1] brings a file of version v to v + 1.
// Version 1 is the first layout, so there is none yet.
const std::vector<std::function<void(SQLite::Database&)>> kMigrations = {};

QString text(const std::exception& e) { return QString::fromUtf8(e.what()); }

}  // namespace

void waitWhenBusy(SQLite::Database& db, const BusyWait& wait) {
  constexpr int kStepMs = 20;
  sqlite3_busy_handler(
      db.getHandle(),
      [](void* arg, int calls) -> int {
        const BusyWait& w = *static_cast<const BusyWait*>(arg);
        if (calls == 0 && w.waiting) w.waiting();
        if (calls * kStepMs >= w.timeoutMs) return 0;  // give up: SQLITE_BUSY
        sqlite3_sleep(kStepMs);
        return 1;
      },
      const_cast<BusyWait*>(&wait));
}

bool isBusy(const std::exception& e) {
  const auto* se = dynamic_cast<const SQLite::Exception*>(&e);
  return se && ((se->getErrorCode() & 0xff) == SQLITE_BUSY || (se->getErrorCode() & 0xff) == SQLITE_LOCKED);
}

QString busyFailure(const QString& path, const BusyWait& wait) {
  return QStringLiteral("The database \"%1\" is in use by another program: it was still locked after %2 seconds.")
      .arg(path)
      .arg(wait.timeoutMs / 1000.0);
}

namespace {

// A read-only connection that waits for another program's lock as told.
std::unique_ptr<SQLite::Database> openReadOnly(const QString& path, const BusyWait& wait) {
  auto db = std::make_unique<SQLite::Database>(path.toStdString(), SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX);
  waitWhenBusy(*db, wait);
  return db;
}

uint32_t bigEndian(const QByteArray& bytes, int offset, int size) {
  uint32_t v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | uint8_t(bytes[offset + i]);
  return v;
}

// The header counts the file's pages (when its change counter and its
// "valid for" counter agree); a file shorter than that has lost its end. While
// a write-ahead log with frames lies beside it, the log may hold those pages.
QString lostEndProblem(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  const QByteArray header = f.read(100);
  if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3", 16))) return QString();
  uint32_t pageSize = bigEndian(header, 16, 2);
  if (pageSize == 1) pageSize = 65536;
  const uint32_t pages = bigEndian(header, 28, 4);
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0 || pages == 0) return QString();
  if (bigEndian(header, 24, 4) != bigEndian(header, 92, 4)) return QString();
  const qint64 expected = qint64(pages) * pageSize;
  if (f.size() >= expected) return QString();
  if (QFileInfo(path + QStringLiteral("-wal")).size() > 0) return QString();
  return QStringLiteral("The database \"%1\" is damaged (the file holds %2 bytes where its header counts %3 pages "
                        "of %4 bytes: its end is missing).")
      .arg(path)
      .arg(f.size())
      .arg(pages)
      .arg(pageSize);
}

QString readFailure(const QString& path, const std::exception& e, const BusyWait& wait) {
  if (isBusy(e)) return busyFailure(path, wait);
  if (const auto* se = dynamic_cast<const SQLite::Exception*>(&e)) {
    if (se->getErrorCode() == SQLITE_NOTADB) return QStringLiteral("The file \"%1\" is not a database.").arg(path);
    if (se->getErrorCode() == SQLITE_CORRUPT)
      return QStringLiteral("The database \"%1\" is damaged (%2).").arg(path, text(e));
  }
  return QStringLiteral("The database \"%1\" cannot be read (%2).").arg(path, text(e));
}
}  // namespace

FileCheck inspect(const QString& path, const BusyWait& wait) {
  FileCheck check;
  check.error = lostEndProblem(path);
  if (!check.error.isEmpty()) return check;
  try {
    const std::unique_ptr<SQLite::Database> connection = openReadOnly(path, wait);
    SQLite::Database& db = *connection;
    const int appId = db.execAndGet("PRAGMA application_id").getInt();
    check.version = db.execAndGet("PRAGMA user_version").getInt();
    const int tables = db.execAndGet("SELECT count(*) FROM sqlite_master").getInt();
    check.empty = tables == 0;
    if (!check.empty && appId != kApplicationId) {
      check.error = QStringLiteral("The file \"%1\" is not a Vortely database.").arg(path);
      return check;
    }
    if (check.version > kVersion) {
      check.error = QStringLiteral("The database \"%1\" was written by a newer version of Vortely "
                                   "(layout %2; this version reads up to %3).")
                        .arg(path)
                        .arg(check.version)
                        .arg(kVersion);
      return check;
    }
    if (!check.empty && check.version < 1) {
      check.error = QStringLiteral("The database \"%1\" has no layout version.").arg(path);
      return check;
    }
  } catch (const std::exception& e) {
    check.error = readFailure(path, e, wait);
    return check;
  }
  check.sound = true;
  return check;
}

QString integrityProblems(const QString& path, const BusyWait& wait, const std::atomic<bool>* cancel) {
  try {
    const std::unique_ptr<SQLite::Database> connection = openReadOnly(path, wait);
    SQLite::Database& db = *connection;
    if (cancel)
      sqlite3_progress_handler(
          db.getHandle(), 1000,
          [](void* flag) -> int { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; },
          const_cast<std::atomic<bool>*>(cancel));
    // The check reads every page once: through the page cache rather than
    // mapped, since mapped pages would count as the process's memory.
    db.exec("PRAGMA mmap_size = 0");
    // It reads each page about once, and it runs beside the history build:
    // a small page cache keeps it off the process's peak memory.
    db.exec("PRAGMA cache_size = -256");
    SQLite::Statement q(db, "PRAGMA quick_check");
    QStringList problems;
    while (q.executeStep()) {
      const QString line = QString::fromUtf8(q.getColumn(0).getText());
      if (line != QLatin1String("ok")) problems << line;
    }
    if (problems.isEmpty()) return QString();
    return QStringLiteral("The database \"%1\" is damaged (%2).").arg(path, problems.mid(0, 3).join(QStringLiteral("; ")));
  } catch (const std::exception& e) {
    return readFailure(path, e, wait);
  }
}

bool prepare(SQLite::Database& db, bool empty, int fromVersion, QString* error) {
  if (!empty && fromVersion == kVersion) return true;
  try {
    SQLite::Transaction transaction(db);
    if (empty) {
      for (const char* sql : kCreateStatements) db.exec(sql);
      db.exec("PRAGMA application_id = " + std::to_string(kApplicationId));
    } else {
      for (int v = fromVersion; v < kVersion; ++v) kMigrations.at(size_t(v - 1))(db);
    }
    db.exec("PRAGMA user_version = " + std::to_string(kVersion));
    transaction.commit();
  } catch (const std::exception& e) {
    if (error) *error = QStringLiteral("The database layout could not be %1 (%2).")
                            .arg(empty ? QStringLiteral("created") : QStringLiteral("updated"), text(e));
    return false;
  }
  return true;
}

}  // namespace KVRDatabaseSchema
