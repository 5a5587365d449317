#pragma once
// The data manager's inside, shared by the files it is written in: the
// context's objects and pending changes (Impl) and the small helpers more than
// one of those files uses. Only the data manager's own files include this.
#include <QHash>
#include <QString>
#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/KVRDatabasePool.h"
#include "core/KVRDatabaseSchema.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRVortelyLogCenter.h"

namespace KVRDataManagerInternal {

inline const QString kLogKeyword = QStringLiteral("Data Manager");

// Small repeated texts (currency and country codes) loaded millions of times:
// one shared QString per distinct value.
class StringInterner {
 public:
  QString get(const char* utf8) {
    if (!utf8) return QString();
    const std::string_view key(utf8);
    auto it = map_.find(key);
    if (it != map_.end()) return it->second;
    keys_.emplace_back(key);
    QString value = QString::fromUtf8(utf8, qsizetype(key.size()));
    map_.emplace(std::string_view(keys_.back()), value);
    return value;
  }
  QString get(const char* utf8, size_t size) {
    if (!utf8) return QString();
    const std::string_view key(utf8, size);
    auto it = map_.find(key);
    if (it != map_.end()) return it->second;
    keys_.emplace_back(key);
    QString value = QString::fromUtf8(utf8, qsizetype(size));
    map_.emplace(std::string_view(keys_.back()), value);
    return value;
  }
  QString get(const QString& s) {
    if (s.isNull()) return s;
    const QByteArray utf8 = s.toUtf8();
    return get(utf8.constData());
  }
  void clear() {
    map_.clear();
    keys_.clear();
  }

 private:
  std::deque<std::string> keys_;  // stable storage of the map's keys
  std::unordered_map<std::string_view, QString> map_;
};

// Row id -> object, dense when the ids allow it (they usually do: rowids).
template <typename T>
class IdMap {
 public:
  void build(const std::vector<T*>& objects) {
    int64_t maxId = 0;
    for (T* o : objects) maxId = std::max(maxId, o->objectID);
    dense_.clear();
    sparse_.clear();
    if (maxId <= int64_t(objects.size()) * 4 + 1024) {
      dense_.assign(size_t(maxId + 1), nullptr);
      for (T* o : objects) dense_[size_t(o->objectID)] = o;
    } else {
      sparse_.reserve(objects.size());
      for (T* o : objects) sparse_.emplace(o->objectID, o);
    }
  }
  T* find(int64_t id) const {
    if (!dense_.empty() || sparse_.empty()) {
      return id > 0 && id < int64_t(dense_.size()) ? dense_[size_t(id)] : nullptr;
    }
    auto it = sparse_.find(id);
    return it == sparse_.end() ? nullptr : it->second;
  }

 private:
  std::vector<T*> dense_;
  std::unordered_map<int64_t, T*> sparse_;
};

// Binding helpers on a reused prepared statement.
inline void bindDate(SQLite::Statement& st, int i, KVRDate d) {
  if (d.isValid()) st.bind(i, d.ms); else st.bind(i);
}
inline void bindText(SQLite::Statement& st, int i, const QString& s) {
  if (s.isNull()) { st.bind(i); return; }
  const QByteArray u = s.toUtf8();
  st.bind(i, u.constData());  // copied by SQLite
}
inline void bindBlob(SQLite::Statement& st, int i, const QByteArray& b) {
  if (b.isNull()) { st.bind(i); return; }
  st.bind(i, static_cast<const void*>(b.constData()), int(b.size()));
}
inline void bindId(SQLite::Statement& st, int i, const KVRManagedObject* o) {
  if (o && o->objectID > 0) st.bind(i, static_cast<int64_t>(o->objectID)); else st.bind(i);
}

enum class Kind { None, Account, Product, Report, Entry, IAdEntry, Rating, Cost, Partner };

inline Kind kindOf(const KVRManagedObject* o) {
  if (!o) return Kind::None;
  if (dynamic_cast<const KVRReportEntry*>(o)) return Kind::Entry;
  if (dynamic_cast<const KVRiAdReportEntry*>(o)) return Kind::IAdEntry;
  if (dynamic_cast<const KVRReport*>(o)) return Kind::Report;
  if (dynamic_cast<const KVRVortelyManagedProduct*>(o)) return Kind::Product;
  if (dynamic_cast<const KVRRating*>(o)) return Kind::Rating;
  if (dynamic_cast<const KVRStoreAccount*>(o)) return Kind::Account;
  if (dynamic_cast<const KVRCost*>(o)) return Kind::Cost;
  if (dynamic_cast<const KVRPartner*>(o)) return Kind::Partner;
  return Kind::None;
}

inline const char* tableOf(Kind k) {
  switch (k) {
    case Kind::Account: return "StoreAccount";
    case Kind::Product: return "Product";
    case Kind::Report: return "Report";
    case Kind::Entry: return "ReportEntry";
    case Kind::IAdEntry: return "iAdReportEntry";
    case Kind::Rating: return "Rating";
    case Kind::Cost: return "Cost";
    case Kind::Partner: return "Partner";
    case Kind::None: break;
  }
  return nullptr;
}

inline QString writeFailure(const std::exception& e, const QString& path, const KVRDatabaseSchema::BusyWait& wait) {
  return KVRDatabaseSchema::isBusy(e)
             ? KVRDatabaseSchema::busyFailure(path, wait)
             : QStringLiteral("The database could not be saved (%1).").arg(QString::fromUtf8(e.what()));
}

// A refused user edit: told to the caller and logged.
inline void tellEditFailure(QString* error, const QString& why) {
  if (error) *error = why;
  KVRVortelyLogCenter::sharedInstance().addLogEntry(why, false, kLogKeyword);
}

// What the load left out of the file, told in the log and, for numbers it
// could not read, in one notice.
struct LoadProblems {
  struct Lines {
    uint64_t withoutDate = 0, unreadNumbers = 0;
  };
  std::unordered_map<int64_t, Lines> byReport;  // by report id
  std::unordered_set<int64_t> leftOutReports;   // reports stored twice
  uint64_t orphanLines = 0;                     // lines whose report does not exist
  std::vector<int64_t> orphanReportIds;         // the first few of those reports
  void log(const QString& line) { KVRVortelyLogCenter::sharedInstance().addLogEntry(line, false, kLogKeyword); }
};

}  // namespace KVRDataManagerInternal

using namespace KVRDataManagerInternal;

struct KVRVortelyCoreDataManager::Impl {
  ~Impl() { stopIntegrityCheck(); }

  // How the kept connection waits for another program's lock; outlives it.
  KVRDatabaseSchema::BusyWait busyWait;
  std::unique_ptr<SQLite::Database> db;
  QString path;

  // The integrity check of the open file reads all of it, so it runs on a
  // thread of its own beside what follows the open (the history build).
  // Nothing is written to the file before it has passed: a write waits for
  // it, and every write is refused once it has failed.
  struct IntegrityCheck {
    std::thread thread;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{true};  // set once problems holds the check's answer
    std::mutex lock;
    QString problems;  // guarded by lock; empty when the file is sound
  } integrity;
  // The connection's journal mode is set (which may write the file's header)
  // once the check has passed.
  bool journalModeSet = true;
  // Files beside the database that were not there before the open: removed
  // again when the file turns out to be damaged.
  bool walBefore = true, shmBefore = true;

  void startIntegrityCheck(const QString& file, KVRDatabaseSchema::BusyWait wait) {
    stopIntegrityCheck();
    {
      std::lock_guard<std::mutex> g(integrity.lock);
      integrity.problems.clear();
    }
    integrity.cancel = false;
    integrity.done.store(false, std::memory_order_release);
    integrity.thread = std::thread([this, file, wait] {
      const QString problems = KVRDatabaseSchema::integrityProblems(file, wait, &integrity.cancel);
      {
        std::lock_guard<std::mutex> g(integrity.lock);
        integrity.problems = problems;
      }
      integrity.done.store(true, std::memory_order_release);
      integrity.done.notify_all();
    });
  }
  void stopIntegrityCheck() {
    integrity.cancel = true;
    if (integrity.thread.joinable()) integrity.thread.join();
    {
      std::lock_guard<std::mutex> g(integrity.lock);
      integrity.problems.clear();
    }
    integrity.done.store(true, std::memory_order_release);
    integrity.done.notify_all();
  }
  bool integrityPassed() {
    if (!integrity.done.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> g(integrity.lock);
    return integrity.problems.isEmpty();
  }
  bool integrityFailed() {
    if (!integrity.done.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> g(integrity.lock);
    return !integrity.problems.isEmpty();
  }
  void checkpointOnClose(bool on) {
    sqlite3_db_config(db->getHandle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, on ? 0 : 1, nullptr);
  }
  // Waits for the check; false with the reason when the file is damaged.
  bool waitForIntegrity(QString* problems) {
    while (!integrity.done.load(std::memory_order_acquire)) integrity.done.wait(false, std::memory_order_acquire);
    std::lock_guard<std::mutex> g(integrity.lock);
    if (problems) *problems = integrity.problems;
    return integrity.problems.isEmpty();
  }
  // Whether the file may be written now (waiting for the check): false with
  // the reason when it may not.
  bool writable(QString* error) {
    QString problems;
    if (!waitForIntegrity(&problems)) {
      if (error) *error = QStringLiteral("%1 Nothing is written to it.").arg(problems);
      return false;
    }
    if (!journalModeSet) {
      checkpointOnClose(true);
      db->exec("PRAGMA journal_mode = WAL");
      journalModeSet = true;
    }
    return true;
  }

  KVRDatabasePool<KVRStoreAccount> accountPool{16};
  KVRDatabasePool<KVRVortelyManagedProduct> productPool{32};
  KVRDatabasePool<KVRReport> reportPool{1024};
  KVRDatabasePool<KVRReportEntry> entryPool{32768};  // lines made in this session
  std::vector<std::unique_ptr<KVRDatabasePool<KVRReportEntry>>> loadedEntryPools;
  size_t loadedEntryCount = 0;
  KVRDatabasePool<KVRiAdReportEntry> iAdPool{4096};
  KVRDatabasePool<KVRRating> ratingPool{1024};
  KVRDatabasePool<KVRCost> costPool{64};
  KVRDatabasePool<KVRPartner> partnerPool{64};
  KVRDatabasePool<KVRCost>& poolOf(const KVRCost*) { return costPool; }
  KVRDatabasePool<KVRPartner>& poolOf(const KVRPartner*) { return partnerPool; }

  std::vector<KVRStoreAccount*> accounts;
  std::vector<KVRVortelyManagedProduct*> products;
  std::vector<KVRReport*> reports;

  // Changes waiting for the next save.
  std::vector<KVRStoreAccount*> newAccounts;
  std::vector<KVRVortelyManagedProduct*> newProducts;
  std::vector<KVRReport*> newReports;
  std::vector<KVRReportEntry*> newEntries;
  std::vector<KVRiAdReportEntry*> newIAdEntries;
  std::vector<KVRRating*> newRatings;
  std::vector<KVRCost*> newCosts;
  std::vector<KVRPartner*> newPartners;
  // The report and product each new line of reportEntryInReport was made
  // for: the save gives the line the one that lists it.
  std::unordered_map<const KVRReportEntry*, std::pair<KVRReport*, KVRVortelyManagedProduct*>> madeFor;
  std::unordered_set<KVRManagedObject*> changed;
  std::unordered_set<const KVRManagedObject*> deleted;  // every object removed from the context
  std::vector<std::pair<Kind, int64_t>> deletedRows;    // rows to remove from the file

  StringInterner strings;

  LoadProblems loadProblems;
  std::optional<KVRVortelyCoreDataManager::LoadNotice> loadNotice;
  // Reports whose stored reconciled amount could not be read (they read as
  // not reconciled): the file keeps it until the user records an amount.
  std::unordered_set<const KVRReport*> unreadPointedIncome;

  // reportWithName's index of file names.
  QHash<QString, KVRReport*> reportsByName;
  size_t reportsIndexed = 0;
  bool reportsIndexDirty = true;

  bool hasChanges() const {
    return !newAccounts.empty() || !newProducts.empty() || !newReports.empty() || !newEntries.empty() ||
           !newIAdEntries.empty() || !newRatings.empty() || !newCosts.empty() || !newPartners.empty() ||
           !changed.empty() || !deletedRows.empty();
  }

  // The new objects and changed ones, once written (or dropped with the store).
  void forgetWrittenChanges() {
    newAccounts.clear();
    newProducts.clear();
    newReports.clear();
    newEntries.clear();
    madeFor.clear();
    newIAdEntries.clear();
    newRatings.clear();
    newCosts.clear();
    newPartners.clear();
    changed.clear();
  }

  void clear() {
    stopIntegrityCheck();
    journalModeSet = true;
    db.reset();
    path.clear();
    accounts.clear();
    products.clear();
    reports.clear();
    forgetWrittenChanges();
    deleted.clear();
    deletedRows.clear();
    strings.clear();
    loadProblems = LoadProblems();
    loadNotice.reset();
    unreadPointedIncome.clear();
    reportsByName.clear();
    reportsIndexed = 0;
    reportsIndexDirty = true;
    // Objects last: nothing above refers to them any more.
    entryPool.clear();
    loadedEntryPools.clear();
    loadedEntryCount = 0;
    iAdPool.clear();
    ratingPool.clear();
    costPool.clear();
    partnerPool.clear();
    reportPool.clear();
    productPool.clear();
    accountPool.clear();
  }

  void load();
  void loadEntries(const IdMap<KVRVortelyManagedProduct>& productById, const IdMap<KVRReport>& reportById);
  void tellLoadProblems(const IdMap<KVRReport>& reportById);
  void removeFromContext(KVRManagedObject* object);
  void forget(KVRManagedObject* o, Kind k) {
    if (!deleted.insert(o).second) return;
    changed.erase(o);
    if (o->objectID > 0) deletedRows.emplace_back(k, o->objectID);
  }
  void writeChanges();
};
