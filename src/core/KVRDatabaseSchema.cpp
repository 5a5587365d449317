#include "core/KVRDatabaseSchema.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <QStringList>
#include <functional>
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

namespace {
QString readFailure(const QString& path, const std::exception& e) {
  if (const auto* se = dynamic_cast<const SQLite::Exception*>(&e)) {
    if (se->getErrorCode() == SQLITE_NOTADB) return QStringLiteral("The file \"%1\" is not a database.").arg(path);
    if (se->getErrorCode() == SQLITE_CORRUPT)
      return QStringLiteral("The database \"%1\" is damaged (%2).").arg(path, text(e));
  }
  return QStringLiteral("The database \"%1\" cannot be read (%2).").arg(path, text(e));
}
}  // namespace

FileCheck inspect(const QString& path) {
  FileCheck check;
  try {
    SQLite::Database db(path.toStdString(), SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX, kBusyTimeoutMs);
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
    check.error = readFailure(path, e);
    return check;
  }
  check.sound = true;
  return check;
}

QString integrityProblems(const QString& path) {
  try {
    SQLite::Database db(path.toStdString(), SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX, kBusyTimeoutMs);
    db.exec("PRAGMA mmap_size = 1073741824");  // the check reads every page: map them instead of copying
    SQLite::Statement q(db, "PRAGMA quick_check");
    QStringList problems;
    while (q.executeStep()) {
      const QString line = QString::fromUtf8(q.getColumn(0).getText());
      if (line != QLatin1String("ok")) problems << line;
    }
    if (problems.isEmpty()) return QString();
    return QStringLiteral("The database \"%1\" is damaged (%2).").arg(path, problems.mid(0, 3).join(QStringLiteral("; ")));
  } catch (const std::exception& e) {
    return readFailure(path, e);
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
