#include "core/KVRVortelyCoreDataManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <algorithm>
#include <deque>
#include <future>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRDatabasePool.h"
#include "core/KVRDatabaseSchema.h"
#include "core/KVRProcessors.h"
#include "core/KVRTableFileReader.h"
#include "core/KVRNotifications.h"
#include "platform/KVRVortelyLogCenter.h"
#include "platform/KVRNotificationCenter.h"
#include "platform/KVRSupportFolder.h"

namespace {

const QString kLogKeyword = QStringLiteral("Data Manager");

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

// Columns of dates: REAL milliseconds, NULL when there is no date.
KVRDate dateColumn(sqlite3_stmt* s, int i) {
  return sqlite3_column_type(s, i) == SQLITE_NULL ? KVRDate() : KVRDate(sqlite3_column_double(s, i));
}
QString textColumn(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  if (!t) return QString();
  return QString::fromUtf8(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, i));
}
QByteArray blobColumn(sqlite3_stmt* s, int i) {
  const void* b = sqlite3_column_blob(s, i);
  const int n = sqlite3_column_bytes(s, i);
  return b && n > 0 ? QByteArray(static_cast<const char*>(b), n) : QByteArray();
}

// Binding helpers on a reused prepared statement.
void bindDate(SQLite::Statement& st, int i, KVRDate d) {
  if (d.isValid()) st.bind(i, d.ms); else st.bind(i);
}
void bindText(SQLite::Statement& st, int i, const QString& s) {
  if (s.isNull()) { st.bind(i); return; }
  const QByteArray u = s.toUtf8();
  st.bind(i, u.constData());  // copied by SQLite
}
// The UTF-8 of the short texts repeated over millions of lines (currency and
// country codes share their QString data), encoded once per distinct buffer.
// Valid while the texts it saw stay alive: within one save.
class Utf8Cache {
 public:
  void bind(SQLite::Statement& st, int i, const QString& s) {
    if (s.isNull()) { st.bind(i); return; }
    const Key key{s.constData(), s.size()};
    auto it = map_.find(key);
    if (it == map_.end()) it = map_.emplace(key, s.toUtf8()).first;
    st.bindNoCopy(i, it->second.constData());
  }

 private:
  struct Key {
    const QChar* data;
    qsizetype size;
    bool operator==(const Key& o) const { return data == o.data && size == o.size; }
  };
  struct Hash {
    size_t operator()(const Key& k) const { return std::hash<const void*>()(k.data) ^ size_t(k.size); }
  };
  std::unordered_map<Key, QByteArray, Hash> map_;
};
void bindBlob(SQLite::Statement& st, int i, const QByteArray& b) {
  if (b.isNull()) { st.bind(i); return; }
  st.bind(i, static_cast<const void*>(b.constData()), int(b.size()));
}
void bindId(SQLite::Statement& st, int i, const KVRManagedObject* o) {
  if (o && o->objectID > 0) st.bind(i, static_cast<int64_t>(o->objectID)); else st.bind(i);
}

template <typename T>
void eraseOne(std::vector<T*>& v, const T* x) {
  auto it = std::find(v.begin(), v.end(), x);
  if (it != v.end()) v.erase(it);
}
template <typename T, typename Set>
void eraseAll(std::vector<T*>& v, const Set& gone) {
  v.erase(std::remove_if(v.begin(), v.end(), [&](T* x) { return gone.count(x) != 0; }), v.end());
}

// A new object from its pool, listed among the inserts of the next save.
template <typename T>
T* createPending(KVRDatabasePool<T>& pool, std::vector<T*>& pending) {
  T* o = pool.create();
  pending.push_back(o);
  return o;
}
// Sets both sides of a to-one relationship: the object's owner, and the object
// in the owner's list when there is an owner.
template <typename T, typename Owner>
void attach(T* object, Owner* T::*ownerOf, Owner* owner, std::vector<T*> Owner::*listOf) {
  object->*ownerOf = owner;
  if (owner) (owner->*listOf).push_back(object);
}
// A new object belonging to a product (or to none).
template <typename T>
T* createForProduct(KVRDatabasePool<T>& pool, std::vector<T*>& pending, KVRVortelyManagedProduct* product,
                    std::vector<T*> KVRVortelyManagedProduct::*listOf) {
  T* o = createPending(pool, pending);
  attach(o, &T::product, product, listOf);
  return o;
}

enum class Kind { None, Account, Product, Report, Entry, IAdEntry, Rating, Cost, Partner };

Kind kindOf(const KVRManagedObject* o) {
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

const char* tableOf(Kind k) {
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

}  // namespace

struct KVRVortelyCoreDataManager::Impl {
  // How the kept connection waits for another program's lock; outlives it.
  KVRDatabaseSchema::BusyWait busyWait;
  std::unique_ptr<SQLite::Database> db;
  QString path;

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
  std::unordered_set<KVRManagedObject*> changed;
  std::unordered_set<const KVRManagedObject*> deleted;  // every object removed from the context
  std::vector<std::pair<Kind, int64_t>> deletedRows;    // rows to remove from the file

  StringInterner strings;

  // reportWithName's index of file names.
  QHash<QString, KVRReport*> reportsByName;
  size_t reportsIndexed = 0;
  bool reportsIndexDirty = true;

  bool hasChanges() const {
    return !newAccounts.empty() || !newProducts.empty() || !newReports.empty() || !newEntries.empty() ||
           !newIAdEntries.empty() || !newRatings.empty() || !newCosts.empty() || !newPartners.empty() ||
           !changed.empty() || !deletedRows.empty();
  }

  void clear() {
    db.reset();
    path.clear();
    accounts.clear();
    products.clear();
    reports.clear();
    newAccounts.clear();
    newProducts.clear();
    newReports.clear();
    newEntries.clear();
    newIAdEntries.clear();
    newRatings.clear();
    newCosts.clear();
    newPartners.clear();
    changed.clear();
    deleted.clear();
    deletedRows.clear();
    strings.clear();
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
  void removeFromContext(KVRManagedObject* object);
  void forget(KVRManagedObject* o, Kind k) {
    if (!deleted.insert(o).second) return;
    changed.erase(o);
    if (o->objectID > 0) deletedRows.emplace_back(k, o->objectID);
  }
  void writeChanges();
};

// ---------------------------------------------------------------------------
// Loading

void KVRVortelyCoreDataManager::Impl::load() {
  sqlite3* h = db->getHandle();
  // Pages are read, not mapped: mapped pages of a file would count as the
  // process's memory for as long as the connection lives. One read
  // transaction for the whole load: every table comes from the same state of
  // the file, and the file does not change while its pages are read directly.
  db->exec("PRAGMA mmap_size = 0");
  db->exec("BEGIN");
  struct EndRead {
    SQLite::Database& db;
    ~EndRead() {
      try {
        db.exec("COMMIT");
      } catch (...) {
      }
    }
  } endRead{*db};
  auto prepare = [h](const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(h, sql, -1, &s, nullptr) != SQLITE_OK) throw SQLite::Exception(h, sqlite3_errcode(h));
    return std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>(s, &sqlite3_finalize);
  };
  // Runs a query and hands each of its rows to `row`.
  auto eachRow = [&](const char* sql, const auto& row) {
    auto s = prepare(sql);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) row(s.get());
    if (rc != SQLITE_DONE) throw SQLite::Exception(h, rc);
  };

  eachRow("SELECT id, name, developer, login, password, icon FROM StoreAccount ORDER BY id", [&](sqlite3_stmt* q) {
    KVRStoreAccount* a = accountPool.create();
    a->objectID = sqlite3_column_int64(q, 0);
    a->name = textColumn(q, 1);
    a->developer = textColumn(q, 2);
    a->login = textColumn(q, 3);
    a->password = textColumn(q, 4);
    a->icon = blobColumn(q, 5);
    accounts.push_back(a);
  });
  IdMap<KVRStoreAccount> accountById;
  accountById.build(accounts);

  const char* productsQuery =
      "SELECT id, account_id, idStore, name, category, bundleIdentifier, version, free, firstDate, lastDate,"
      " iconData FROM Product ORDER BY id";
  eachRow(productsQuery, [&](sqlite3_stmt* q) {
    KVRVortelyManagedProduct* p = productPool.create();
    p->objectID = sqlite3_column_int64(q, 0);
    p->account = accountById.find(sqlite3_column_int64(q, 1));
    p->idStore = sqlite3_column_int64(q, 2);
    p->name = textColumn(q, 3);
    p->category = strings.get(reinterpret_cast<const char*>(sqlite3_column_text(q, 4)));
    p->bundleIdentifier = textColumn(q, 5);
    p->version = textColumn(q, 6);
    p->free = sqlite3_column_int(q, 7) != 0;
    p->firstDate = dateColumn(q, 8);
    p->lastDate = dateColumn(q, 9);
    p->iconData = blobColumn(q, 10);
    if (p->account) p->account->products.push_back(p);
    products.push_back(p);
  });
  IdMap<KVRVortelyManagedProduct> productById;
  productById.build(products);

  const char* reportsQuery =
      "SELECT id, account_id, filename, type, beginDate, endDate, status, pointedIncome, pointedDate,"
      " pointedAccount FROM Report ORDER BY id";
  eachRow(reportsQuery, [&](sqlite3_stmt* q) {
    KVRReport* r = reportPool.create();
    r->objectID = sqlite3_column_int64(q, 0);
    r->account = accountById.find(sqlite3_column_int64(q, 1));
    r->filename = textColumn(q, 2);
    r->type = sqlite3_column_int(q, 3);
    r->beginDate = dateColumn(q, 4);
    r->endDate = dateColumn(q, 5);
    r->status = sqlite3_column_int(q, 6);
    r->pointedIncome = float(sqlite3_column_double(q, 7));
    r->pointedDate = dateColumn(q, 8);
    r->pointedAccount = strings.get(reinterpret_cast<const char*>(sqlite3_column_text(q, 9)));
    reports.push_back(r);
  });
  IdMap<KVRReport> reportById;
  reportById.build(reports);

  loadEntries(productById, reportById);

  const char* adLinesQuery =
      "SELECT id, product_id, report_id, date, country, revenue, requests, impressions, fillRate, ctr, eCPM"
      " FROM iAdReportEntry";
  eachRow(adLinesQuery, [&](sqlite3_stmt* q) {
    KVRiAdReportEntry* e = iAdPool.create();
    e->objectID = sqlite3_column_int64(q, 0);
    e->product = productById.find(sqlite3_column_int64(q, 1));
    e->report = reportById.find(sqlite3_column_int64(q, 2));
    e->date = dateColumn(q, 3);
    e->country = strings.get(reinterpret_cast<const char*>(sqlite3_column_text(q, 4)));
    e->revenue = float(sqlite3_column_double(q, 5));
    e->requests = float(sqlite3_column_double(q, 6));
    e->impressions = float(sqlite3_column_double(q, 7));
    e->fillRate = float(sqlite3_column_double(q, 8));
    e->ctr = float(sqlite3_column_double(q, 9));
    e->eCPM = float(sqlite3_column_double(q, 10));
    if (e->product) e->product->iAdEntries.push_back(e);
  });

  eachRow("SELECT id, product_id, country, stars, allVersions, count, newCount FROM Rating", [&](sqlite3_stmt* q) {
    KVRRating* r = ratingPool.create();
    r->objectID = sqlite3_column_int64(q, 0);
    r->product = productById.find(sqlite3_column_int64(q, 1));
    r->country = strings.get(reinterpret_cast<const char*>(sqlite3_column_text(q, 2)));
    r->stars = sqlite3_column_int(q, 3);
    r->allVersions = sqlite3_column_int(q, 4) != 0;
    r->count = sqlite3_column_int(q, 5);
    r->newCount = sqlite3_column_int(q, 6);
    if (r->product) r->product->ratings.push_back(r);
  });

  eachRow("SELECT id, product_id, name, value FROM Cost", [&](sqlite3_stmt* q) {
    KVRCost* c = costPool.create();
    c->objectID = sqlite3_column_int64(q, 0);
    c->product = productById.find(sqlite3_column_int64(q, 1));
    c->name = textColumn(q, 2);
    c->value = sqlite3_column_double(q, 3);
    if (c->product) c->product->costs.push_back(c);
  });

  eachRow("SELECT id, product_id, name, cost, royalties FROM Partner", [&](sqlite3_stmt* q) {
    KVRPartner* p = partnerPool.create();
    p->objectID = sqlite3_column_int64(q, 0);
    p->product = productById.find(sqlite3_column_int64(q, 1));
    p->name = textColumn(q, 2);
    p->cost = sqlite3_column_double(q, 3);
    p->royalties = sqlite3_column_double(q, 4);
    if (p->product) p->product->partners.push_back(p);
  });
}

// Report lines are most of the file. They are read straight from the file's
// pages when it is plainly laid out (KVRTableFileReader), else through SQLite
// in rowid ranges; either way by a few threads (as many as the process may run
// on, at most four), each into its own block pool and in rowid order, then
// linked to their products and reports in that order, so the relationship
// vectors come out as a single sequential read would give them, each made at
// its final size.
namespace {

// The lines one thread reads, and how many of them go to each product and
// report (counted by runs of the same owner: lines come report by report).
struct LinePart {
  std::unique_ptr<KVRDatabasePool<KVRReportEntry>> pool = std::make_unique<KVRDatabasePool<KVRReportEntry>>(32768);
  StringInterner strings;
  std::unordered_map<KVRVortelyManagedProduct*, uint32_t> productLines;
  std::unordered_map<KVRReport*, uint32_t> reportLines;
  std::string error;
  // Look-up and counting state.
  int64_t lastProductId = -1, lastReportId = -1;
  KVRVortelyManagedProduct* lastProduct = nullptr;
  KVRReport* lastReport = nullptr;
  uint32_t productRun = 0, reportRun = 0;

  void flushRuns() {
    if (lastProduct && productRun) productLines[lastProduct] += productRun;
    if (lastReport && reportRun) reportLines[lastReport] += reportRun;
    productRun = reportRun = 0;
  }
};

// One line's values, as both readers give them. Texts are UTF-8, up to their
// first NUL (as SQLite's C text reads); null: no text.
struct LineValues {
  int64_t id = 0, productId = 0, reportId = 0;
  int type = 0, subType = 0, count = 0, income = 0;
  const char* currency = nullptr;
  size_t currencySize = 0;
  const char* country = nullptr;
  size_t countrySize = 0;
  KVRDate beginDate, endDate;
};

}  // namespace

// Makes one line in a part.
template <typename ProductMap, typename ReportMap>
static void makeLine(LinePart& part, const LineValues& v, const ProductMap& productById, const ReportMap& reportById) {
  KVRReportEntry* e = part.pool->create();
  e->objectID = v.id;
  if (v.productId != part.lastProductId) {
    if (part.productRun && part.lastProduct) part.productLines[part.lastProduct] += part.productRun;
    part.productRun = 0;
    part.lastProductId = v.productId;
    part.lastProduct = productById.find(v.productId);
  }
  if (v.reportId != part.lastReportId) {
    if (part.reportRun && part.lastReport) part.reportLines[part.lastReport] += part.reportRun;
    part.reportRun = 0;
    part.lastReportId = v.reportId;
    part.lastReport = reportById.find(v.reportId);
  }
  ++part.productRun;
  ++part.reportRun;
  e->product = part.lastProduct;
  e->report = part.lastReport;
  e->type = v.type;
  e->subType = v.subType;
  e->count = v.count;
  e->income = v.income;
  e->currency = part.strings.get(v.currency, v.currencySize);
  e->country = part.strings.get(v.country, v.countrySize);
  e->beginDate = v.beginDate;
  e->endDate = v.endDate;
}

void KVRVortelyCoreDataManager::Impl::loadEntries(const IdMap<KVRVortelyManagedProduct>& productById,
                                                 const IdMap<KVRReport>& reportById) {
  const std::string file = db->getFilename();
  const unsigned processors = std::min(KVRAvailableProcessors(), 4u);
  std::vector<LinePart> parts;

  // Straight from the pages, when the table is laid out as expected. The
  // caller's read transaction keeps the file as it is meanwhile. False, with
  // the reason, when the lines are to be read through SQLite.
  std::string why;
  auto readFromPages = [&]() -> bool {
    // Where each column lies in a row; the id is the rowid.
    static const char* const kColumns[] = {"product_id", "report_id", "type", "subType", "count",
                                           "income", "currency", "country", "beginDate", "endDate"};
    int position[10];
    std::fill(std::begin(position), std::end(position), -1);
    int columns = 0;
    bool rowidKey = false;
    {
      SQLite::Statement q(*db, "PRAGMA table_info(ReportEntry)");
      while (q.executeStep()) {
        const std::string name = q.getColumn(1).getString();
        const int cid = q.getColumn(0).getInt();
        columns = std::max(columns, cid + 1);
        if (name == "id") rowidKey = q.getColumn(5).getInt() == 1 && q.getColumn(2).getString() == "INTEGER";
        for (int c = 0; c < 10; ++c)
          if (name == kColumns[c]) position[c] = cid;
      }
    }
    if (!rowidKey || std::find(std::begin(position), std::end(position), -1) != std::end(position))
      return why = "unexpected columns", false;
    uint32_t root = 0;
    {
      SQLite::Statement q(*db, "SELECT rootpage FROM sqlite_schema WHERE type = 'table' AND name = 'ReportEntry'");
      if (!q.executeStep()) return why = "no table", false;
      root = uint32_t(q.getColumn(0).getInt64());
    }
    std::unique_ptr<KVRTableFileReader> reader = KVRTableFileReader::open(file, &why);
    std::vector<uint32_t> leaves;
    if (!reader || !reader->leafPages(root, &leaves, &why)) return false;
    const size_t n = leaves.size() < 64 ? 1 : processors;
    parts.clear();
    parts.resize(n);
    auto read = [&](size_t i) {
      LinePart& part = parts[i];
      LineValues v;
      std::string partWhy;
      using Value = KVRTableFileReader::Value;
      // Integer columns read as sqlite3_column_int would: NULL or missing 0.
      auto integer = [](const Value* vals, size_t count, int col, int64_t* out) {
        if (size_t(col) >= count || vals[col].kind == Value::Null) return *out = 0, true;
        if (vals[col].kind != Value::Integer) return false;
        *out = vals[col].i;
        return true;
      };
      auto date = [](const Value* vals, size_t count, int col, KVRDate* out) {
        if (size_t(col) >= count || vals[col].kind == Value::Null) return *out = KVRDate(), true;
        if (vals[col].kind == Value::Real) return *out = KVRDate(vals[col].r), true;
        if (vals[col].kind == Value::Integer) return *out = KVRDate(double(vals[col].i)), true;
        return false;
      };
      auto text = [](const Value* vals, size_t count, int col, const char** p, size_t* len) {
        if (size_t(col) >= count || vals[col].kind == Value::Null) return *p = nullptr, *len = 0, true;
        if (vals[col].kind != Value::Text) return false;
        std::string_view t = vals[col].bytes;
        t = t.substr(0, t.find('\0'));
        *p = t.data();
        *len = t.size();
        return true;
      };
      const size_t first = leaves.size() * i / n, last = leaves.size() * (i + 1) / n;
      const bool ok = reader->readRows(
          leaves, first, last, size_t(columns),
          [&](int64_t rowid, const Value* vals, size_t count) {
            int64_t x[6];
            for (int c = 0; c < 6; ++c)
              if (!integer(vals, count, position[c], &x[c])) return false;
            v.id = rowid;
            v.productId = x[0];
            v.reportId = x[1];
            v.type = int(x[2]);
            v.subType = int(x[3]);
            v.count = int(x[4]);
            v.income = int(x[5]);
            if (!text(vals, count, position[6], &v.currency, &v.currencySize) ||
                !text(vals, count, position[7], &v.country, &v.countrySize) ||
                !date(vals, count, position[8], &v.beginDate) || !date(vals, count, position[9], &v.endDate))
              return false;
            makeLine(part, v, productById, reportById);
            return true;
          },
          &partWhy);
      if (!ok) part.error = partWhy.empty() ? std::string("unreadable") : partWhy;
      part.flushRuns();
    };
    std::vector<std::thread> threads;
    for (size_t i = 1; i < n; ++i) threads.emplace_back(read, i);
    read(0);
    for (std::thread& t : threads) t.join();
    for (const LinePart& part : parts)
      if (!part.error.empty()) return why = part.error, false;
    return true;
  };

  // Through SQLite, in rowid ranges, each range on its own read-only
  // connection (the first on the loading one).
  auto readWithSQLite = [&] {
    int64_t minId = 0, maxId = 0;
    {
      SQLite::Statement q(*db, "SELECT min(id), max(id) FROM ReportEntry");
      if (!q.executeStep() || q.getColumn(0).isNull()) {
        parts.clear();
        return;
      }
      minId = q.getColumn(0).getInt64();
      maxId = q.getColumn(1).getInt64();
    }
    const int64_t rows = maxId - minId + 1;
    const size_t n = rows < 200000 ? 1 : processors;
    parts.clear();
    parts.resize(n);
    auto read = [&](size_t i, sqlite3* h) {
      LinePart& part = parts[i];
      sqlite3_stmt* q = nullptr;
      const char* sql =
          "SELECT id, product_id, report_id, type, subType, count, income, currency, country, beginDate, endDate"
          " FROM ReportEntry WHERE id BETWEEN ? AND ?";
      if (sqlite3_prepare_v2(h, sql, -1, &q, nullptr) != SQLITE_OK) throw SQLite::Exception(h, sqlite3_errcode(h));
      std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(q, &sqlite3_finalize);
      sqlite3_bind_int64(q, 1, minId + rows * int64_t(i) / int64_t(n));
      sqlite3_bind_int64(q, 2, minId + rows * int64_t(i + 1) / int64_t(n) - 1);
      LineValues v;
      auto textOf = [q](int col, const char** p, size_t* len) {
        *p = reinterpret_cast<const char*>(sqlite3_column_text(q, col));
        *len = *p ? std::strlen(*p) : 0;
      };
      int rc;
      while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        v.id = sqlite3_column_int64(q, 0);
        v.productId = sqlite3_column_int64(q, 1);
        v.reportId = sqlite3_column_int64(q, 2);
        v.type = sqlite3_column_int(q, 3);
        v.subType = sqlite3_column_int(q, 4);
        v.count = sqlite3_column_int(q, 5);
        v.income = sqlite3_column_int(q, 6);
        textOf(7, &v.currency, &v.currencySize);
        textOf(8, &v.country, &v.countrySize);
        v.beginDate = dateColumn(q, 9);
        v.endDate = dateColumn(q, 10);
        makeLine(part, v, productById, reportById);
      }
      if (rc != SQLITE_DONE) throw SQLite::Exception(h, rc);
      part.flushRuns();
    };
    std::vector<std::thread> threads;
    for (size_t i = 1; i < n; ++i) {
      threads.emplace_back([&, i] {
        try {
          SQLite::Database own(file, SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX, KVRDatabaseSchema::kBusyTimeoutMs);
          read(i, own.getHandle());
        } catch (const std::exception& e) {
          parts[i].error = e.what();
        }
      });
    }
    try {
      read(0, db->getHandle());
    } catch (const std::exception& e) {
      parts[0].error = e.what();
    }
    for (std::thread& t : threads) t.join();
    for (const LinePart& part : parts)
      if (!part.error.empty()) throw std::runtime_error(part.error);
  };

  if (!readFromPages()) {
    KVRVortelyLogCenter::sharedInstance().addLogEntry(
        QStringLiteral("Report lines read through SQLite (%1)").arg(QString::fromStdString(why)), false, kLogKeyword);
    readWithSQLite();
  }

  // Each product's and report's list made once at its size, then filled in
  // rowid order.
  std::unordered_map<KVRVortelyManagedProduct*, uint32_t> productLines;
  std::unordered_map<KVRReport*, uint32_t> reportLines;
  for (LinePart& part : parts) {
    for (const auto& [p, n] : part.productLines) productLines[p] += n;
    for (const auto& [r, n] : part.reportLines) reportLines[r] += n;
  }
  for (const auto& [p, n] : productLines) p->entries.reserve(p->entries.size() + n);
  for (const auto& [r, n] : reportLines) r->entries.reserve(r->entries.size() + n);
  for (LinePart& part : parts) {
    part.pool->forEach([](KVRReportEntry* e) {
      if (e->product) e->product->entries.push_back(e);
      if (e->report) e->report->entries.push_back(e);
    });
    loadedEntryCount += part.pool->count();
    loadedEntryPools.push_back(std::move(part.pool));
  }
}

// ---------------------------------------------------------------------------
// Deletion
//
// Removing an object unlinks it from both sides of every relationship and takes
// with it what belongs only to it:
// - a store account: its products and its reports (with everything below them);
// - a product: its report lines (also removed from their reports), ad lines,
//   ratings, costs and partners; the reports themselves stay;
// - a report: its lines (also removed from their products) and its ad lines;
// - a line, ad line, rating, cost or partner: itself only.
// The object's memory is kept until the store closes.

void KVRVortelyCoreDataManager::Impl::removeFromContext(KVRManagedObject* object) {
  const Kind kind = kindOf(object);
  if (kind == Kind::None || deleted.count(object)) return;

  std::unordered_set<KVRReportEntry*> goneEntries;
  std::unordered_set<KVRiAdReportEntry*> goneIAd;
  std::unordered_set<KVRReport*> touchedReports;
  std::unordered_set<KVRVortelyManagedProduct*> touchedProducts;

  auto dropProduct = [&](KVRVortelyManagedProduct* p) {
    forget(p, Kind::Product);
    for (KVRReportEntry* e : p->entries) {
      if (goneEntries.insert(e).second) {
        forget(e, Kind::Entry);
        if (e->report) touchedReports.insert(e->report);
      }
    }
    p->entries.clear();
    for (KVRiAdReportEntry* e : p->iAdEntries)
      if (goneIAd.insert(e).second) forget(e, Kind::IAdEntry);
    p->iAdEntries.clear();
    for (KVRRating* r : p->ratings) forget(r, Kind::Rating);
    for (KVRCost* c : p->costs) forget(c, Kind::Cost);
    for (KVRPartner* x : p->partners) forget(x, Kind::Partner);
    p->ratings.clear();
    p->costs.clear();
    p->partners.clear();
    if (p->account) eraseOne(p->account->products, p);
    eraseOne(products, p);
  };
  auto dropReport = [&](KVRReport* r) {
    forget(r, Kind::Report);
    for (KVRReportEntry* e : r->entries) {
      if (goneEntries.insert(e).second) {
        forget(e, Kind::Entry);
        if (e->product) touchedProducts.insert(e->product);
      }
    }
    r->entries.clear();
    for (KVRVortelyManagedProduct* p : products) {
      for (KVRiAdReportEntry* e : p->iAdEntries) {
        if (e->report == r && goneIAd.insert(e).second) {
          forget(e, Kind::IAdEntry);
          touchedProducts.insert(p);
        }
      }
    }
    eraseOne(reports, r);
    reportsIndexDirty = true;
  };
  // A line, ad line, rating, cost or partner: itself only, out of its product's list.
  auto dropFromProduct = [&](auto* o, auto listOf) {
    forget(o, kind);
    if (o->product) eraseOne(o->product->*listOf, o);
  };

  switch (kind) {
    case Kind::Account: {
      auto* a = static_cast<KVRStoreAccount*>(object);
      forget(a, Kind::Account);
      const auto owned = a->products;
      for (KVRVortelyManagedProduct* p : owned) dropProduct(p);
      a->products.clear();
      std::vector<KVRReport*> ownReports;
      for (KVRReport* r : reports)
        if (r->account == a) ownReports.push_back(r);
      for (KVRReport* r : ownReports) dropReport(r);
      eraseOne(accounts, a);
      break;
    }
    case Kind::Product: dropProduct(static_cast<KVRVortelyManagedProduct*>(object)); break;
    case Kind::Report: dropReport(static_cast<KVRReport*>(object)); break;
    case Kind::Entry: {
      auto* e = static_cast<KVRReportEntry*>(object);
      dropFromProduct(e, &KVRVortelyManagedProduct::entries);
      if (e->report) eraseOne(e->report->entries, e);
      break;
    }
    case Kind::IAdEntry:
      dropFromProduct(static_cast<KVRiAdReportEntry*>(object), &KVRVortelyManagedProduct::iAdEntries);
      break;
    case Kind::Rating: dropFromProduct(static_cast<KVRRating*>(object), &KVRVortelyManagedProduct::ratings); break;
    case Kind::Cost: dropFromProduct(static_cast<KVRCost*>(object), &KVRVortelyManagedProduct::costs); break;
    case Kind::Partner: dropFromProduct(static_cast<KVRPartner*>(object), &KVRVortelyManagedProduct::partners); break;
    case Kind::None: break;
  }

  for (KVRReport* r : touchedReports)
    if (!deleted.count(r)) eraseAll(r->entries, goneEntries);
  for (KVRVortelyManagedProduct* p : touchedProducts) {
    if (deleted.count(p)) continue;
    eraseAll(p->entries, goneEntries);
    eraseAll(p->iAdEntries, goneIAd);
  }
}

// ---------------------------------------------------------------------------
// Saving

void KVRVortelyCoreDataManager::Impl::writeChanges() {
  SQLite::Database& d = *db;
  std::vector<KVRManagedObject*> assigned;  // ids given in this save, undone when it fails
  try {
    SQLite::Transaction transaction(d);

    for (const auto& [kind, id] : deletedRows) {
      SQLite::Statement st(d, std::string("DELETE FROM ") + tableOf(kind) + " WHERE id = ?");
      st.bind(1, static_cast<int64_t>(id));
      st.exec();
    }

    auto finishInsert = [&](SQLite::Statement& st, KVRManagedObject* o) {
      st.exec();
      st.reset();
      o->objectID = d.getLastInsertRowid();
      assigned.push_back(o);
    };
    auto live = [&](const KVRManagedObject* o) { return !deleted.count(o) && o->objectID == 0; };
    // One prepared statement for all the new objects of a kind still in the context.
    auto insertAll = [&](const char* sql, const auto& objects, const auto& bind) {
      SQLite::Statement ins(d, sql);
      for (auto* o : objects) {
        if (!live(o)) continue;
        bind(ins, o);
        finishInsert(ins, o);
      }
    };

    // Parents first, so that every line can name them.
    auto bindAccount = [](SQLite::Statement& st, KVRStoreAccount* a) {
      bindText(st, 1, a->name); bindText(st, 2, a->developer); bindText(st, 3, a->login);
      bindText(st, 4, a->password); bindBlob(st, 5, a->icon);
    };
    insertAll("INSERT INTO StoreAccount (name, developer, login, password, icon) VALUES (?,?,?,?,?)", newAccounts,
              bindAccount);
    auto bindProduct = [](SQLite::Statement& st, KVRVortelyManagedProduct* p) {
      bindId(st, 1, p->account);
      st.bind(2, static_cast<int64_t>(p->idStore));
      bindText(st, 3, p->name); bindText(st, 4, p->category); bindText(st, 5, p->bundleIdentifier);
      bindText(st, 6, p->version); st.bind(7, p->free ? 1 : 0);
      bindDate(st, 8, p->firstDate); bindDate(st, 9, p->lastDate); bindBlob(st, 10, p->iconData);
    };
    insertAll("INSERT INTO Product (account_id, idStore, name, category, bundleIdentifier, version, free, firstDate,"
              " lastDate, iconData) VALUES (?,?,?,?,?,?,?,?,?,?)",
              newProducts, bindProduct);
    auto bindReport = [](SQLite::Statement& st, KVRReport* r) {
      bindId(st, 1, r->account); bindText(st, 2, r->filename); st.bind(3, r->type);
      bindDate(st, 4, r->beginDate); bindDate(st, 5, r->endDate); st.bind(6, r->status);
      st.bind(7, double(r->pointedIncome)); bindDate(st, 8, r->pointedDate); bindText(st, 9, r->pointedAccount);
    };
    insertAll("INSERT INTO Report (account_id, filename, type, beginDate, endDate, status, pointedIncome, pointedDate,"
              " pointedAccount) VALUES (?,?,?,?,?,?,?,?,?)",
              newReports, bindReport);

    // A new line listed in a report's or product's lines without pointing back
    // takes that report or product as its own (both sides of the relationship).
    {
      std::unordered_set<const KVRReportEntry*> orphans;
      for (KVRReportEntry* e : newEntries)
        if ((!e->report || !e->product) && live(e)) orphans.insert(e);
      if (!orphans.empty()) {
        for (KVRReport* r : reports)
          for (KVRReportEntry* e : r->entries)
            if (!e->report && orphans.count(e)) e->report = r;
        for (KVRVortelyManagedProduct* p : products)
          for (KVRReportEntry* e : p->entries)
            if (!e->product && orphans.count(e)) e->product = p;
      }
    }
    Utf8Cache codes;
    auto bindEntry = [&codes](SQLite::Statement& st, KVRReportEntry* e) {
      bindId(st, 1, e->product); bindId(st, 2, e->report); st.bind(3, e->type); st.bind(4, e->subType);
      st.bind(5, e->count); st.bind(6, e->income); codes.bind(st, 7, e->currency); codes.bind(st, 8, e->country);
      bindDate(st, 9, e->beginDate); bindDate(st, 10, e->endDate);
    };
    insertAll("INSERT INTO ReportEntry (product_id, report_id, type, subType, count, income, currency, country,"
              " beginDate, endDate) VALUES (?,?,?,?,?,?,?,?,?,?)",
              newEntries, bindEntry);
    auto bindIAd = [&codes](SQLite::Statement& st, KVRiAdReportEntry* e) {
      bindId(st, 1, e->product); bindId(st, 2, e->report); bindDate(st, 3, e->date); codes.bind(st, 4, e->country);
      st.bind(5, double(e->revenue)); st.bind(6, double(e->requests)); st.bind(7, double(e->impressions));
      st.bind(8, double(e->fillRate)); st.bind(9, double(e->ctr)); st.bind(10, double(e->eCPM));
    };
    insertAll("INSERT INTO iAdReportEntry (product_id, report_id, date, country, revenue, requests, impressions,"
              " fillRate, ctr, eCPM) VALUES (?,?,?,?,?,?,?,?,?,?)",
              newIAdEntries, bindIAd);
    auto bindRating = [](SQLite::Statement& st, KVRRating* r) {
      bindId(st, 1, r->product); bindText(st, 2, r->country); st.bind(3, r->stars);
      st.bind(4, r->allVersions ? 1 : 0); st.bind(5, r->count); st.bind(6, r->newCount);
    };
    insertAll("INSERT INTO Rating (product_id, country, stars, allVersions, count, newCount) VALUES (?,?,?,?,?,?)",
              newRatings, bindRating);
    auto bindCost = [](SQLite::Statement& st, KVRCost* c) {
      bindId(st, 1, c->product); bindText(st, 2, c->name); st.bind(3, c->value);
    };
    insertAll("INSERT INTO Cost (product_id, name, value) VALUES (?,?,?)", newCosts, bindCost);
    auto bindPartner = [](SQLite::Statement& st, KVRPartner* x) {
      bindId(st, 1, x->product); bindText(st, 2, x->name); st.bind(3, x->cost); st.bind(4, x->royalties);
    };
    insertAll("INSERT INTO Partner (product_id, name, cost, royalties) VALUES (?,?,?,?)", newPartners, bindPartner);

    // Changed objects: every column is rewritten.
    if (!changed.empty()) {
      SQLite::Statement upAccount(d, "UPDATE StoreAccount SET name=?, developer=?, login=?, password=?, icon=? WHERE id=?");
      SQLite::Statement upProduct(d,
          "UPDATE Product SET account_id=?, idStore=?, name=?, category=?, bundleIdentifier=?, version=?, free=?,"
          " firstDate=?, lastDate=?, iconData=? WHERE id=?");
      SQLite::Statement upReport(d,
          "UPDATE Report SET account_id=?, filename=?, type=?, beginDate=?, endDate=?, status=?, pointedIncome=?,"
          " pointedDate=?, pointedAccount=? WHERE id=?");
      SQLite::Statement upEntry(d,
          "UPDATE ReportEntry SET product_id=?, report_id=?, type=?, subType=?, count=?, income=?, currency=?,"
          " country=?, beginDate=?, endDate=? WHERE id=?");
      SQLite::Statement upIAd(d,
          "UPDATE iAdReportEntry SET product_id=?, report_id=?, date=?, country=?, revenue=?, requests=?,"
          " impressions=?, fillRate=?, ctr=?, eCPM=? WHERE id=?");
      SQLite::Statement upRating(d,
          "UPDATE Rating SET product_id=?, country=?, stars=?, allVersions=?, count=?, newCount=? WHERE id=?");
      SQLite::Statement upCost(d, "UPDATE Cost SET product_id=?, name=?, value=? WHERE id=?");
      SQLite::Statement upPartner(d, "UPDATE Partner SET product_id=?, name=?, cost=?, royalties=? WHERE id=?");
      auto run = [](SQLite::Statement& st, int idIndex, KVRManagedObject* o) {
        st.bind(idIndex, static_cast<int64_t>(o->objectID));
        st.exec();
        st.reset();
      };
      for (KVRManagedObject* o : changed) {
        if (deleted.count(o) || o->objectID <= 0) continue;
        switch (kindOf(o)) {
          case Kind::Account: bindAccount(upAccount, static_cast<KVRStoreAccount*>(o)); run(upAccount, 6, o); break;
          case Kind::Product: bindProduct(upProduct, static_cast<KVRVortelyManagedProduct*>(o)); run(upProduct, 11, o); break;
          case Kind::Report: bindReport(upReport, static_cast<KVRReport*>(o)); run(upReport, 10, o); break;
          case Kind::Entry: bindEntry(upEntry, static_cast<KVRReportEntry*>(o)); run(upEntry, 11, o); break;
          case Kind::IAdEntry: bindIAd(upIAd, static_cast<KVRiAdReportEntry*>(o)); run(upIAd, 11, o); break;
          case Kind::Rating: bindRating(upRating, static_cast<KVRRating*>(o)); run(upRating, 7, o); break;
          case Kind::Cost: bindCost(upCost, static_cast<KVRCost*>(o)); run(upCost, 4, o); break;
          case Kind::Partner: bindPartner(upPartner, static_cast<KVRPartner*>(o)); run(upPartner, 5, o); break;
          case Kind::None: break;
        }
      }
    }

    transaction.commit();
  } catch (...) {
    for (KVRManagedObject* o : assigned) o->objectID = 0;
    throw;
  }

  newAccounts.clear();
  newProducts.clear();
  newReports.clear();
  newEntries.clear();
  newIAdEntries.clear();
  newRatings.clear();
  newCosts.clear();
  newPartners.clear();
  changed.clear();
  deletedRows.clear();
}

// ---------------------------------------------------------------------------

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

  // An existing file is first inspected read-only: a file that is not a sound
  // database of ours is never opened for writing. The integrity check reads the
  // whole file, so it runs on its own connection while the objects load from a
  // read-only one; a failed check throws the loaded objects away.
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

  try {
    bool loaded = false;
    if (existing && !check.empty && check.version == KVRDatabaseSchema::kVersion) {
      std::future<QString> integrity = std::async(
          std::launch::async, [path, &wait] { return KVRDatabaseSchema::integrityProblems(path, wait); });
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
      const QString problems = integrity.get();
      if (!problems.isEmpty()) return fail(problems);
      if (!loaded)
        return fail(QStringLiteral("The database \"%1\" could not be read (%2).").arg(path, loadError));
      d_->db.reset();
    } else if (existing) {
      const QString problems = KVRDatabaseSchema::integrityProblems(path, wait);
      if (!problems.isEmpty()) return fail(problems);
    }
    // Sound: reopen for writing. SQLite's own mutex is not needed, every use
    // of the connection is under the context lock.
    d_->db = std::make_unique<SQLite::Database>(
        path.toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_NOMUTEX);
    KVRDatabaseSchema::waitWhenBusy(*d_->db, d_->busyWait);
    // SQLite quietly opens a file it may not write read-only; every later save
    // would then fail, so say it now.
    if (sqlite3_db_readonly(d_->db->getHandle(), "main") == 1)
      return fail(QStringLiteral("The database \"%1\" cannot be written (read-only file or folder).").arg(path));
    d_->db->exec("PRAGMA journal_mode = WAL");
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
  d_->clear();
  ratingsLoaded_ = false;
}

namespace {
QString writeFailure(const std::exception& e, const QString& path, const KVRDatabaseSchema::BusyWait& wait) {
  return KVRDatabaseSchema::isBusy(e)
             ? KVRDatabaseSchema::busyFailure(path, wait)
             : QStringLiteral("The database could not be saved (%1).").arg(QString::fromUtf8(e.what()));
}

// A refused user edit: told to the caller and logged.
void tellEditFailure(QString* error, const QString& why) {
  if (error) *error = why;
  KVRVortelyLogCenter::sharedInstance().addLogEntry(why, false, kLogKeyword);
}
}  // namespace

bool KVRVortelyCoreDataManager::save(QString* error) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  if (!d_->db) {
    if (error) *error = QStringLiteral("No database is open.");
    return false;
  }
  if (!d_->hasChanges()) return true;
  try {
    d_->writeChanges();
  } catch (const std::exception& e) {
    const QString why = writeFailure(e, d_->path, d_->busyWait);
    if (error) *error = why;
    KVRVortelyLogCenter::sharedInstance().addLogEntry(why, true, kLogKeyword);
    return false;
  }
  return true;
}

bool KVRVortelyCoreDataManager::hasChanges() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(contextLock_));
  return d_->hasChanges();
}

std::vector<KVRStoreAccount*> KVRVortelyCoreDataManager::accounts() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(contextLock_));
  return d_->accounts;
}

std::vector<KVRVortelyManagedProduct*> KVRVortelyCoreDataManager::products() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(contextLock_));
  return d_->products;
}

std::vector<KVRReport*> KVRVortelyCoreDataManager::reports() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(contextLock_));
  return d_->reports;
}

std::vector<KVRReport*> KVRVortelyCoreDataManager::paymentReports() {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  std::vector<KVRReport*> result;
  for (KVRReport* r : d_->reports)
    if (r->type == KVRReportTypePayment) result.push_back(r);
  return result;
}

KVRReport* KVRVortelyCoreDataManager::reportWithName(const QString& filename) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  // The importer asks once per report file, so the names are indexed: reports
  // appended since the last question are added; a deletion or a marked change
  // of a report (its name may have changed) rebuilds the index.
  Impl& d = *d_;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (d.reportsIndexDirty || d.reportsIndexed > d.reports.size()) {
      d.reportsByName.clear();
      d.reportsIndexed = 0;
      d.reportsIndexDirty = false;
    }
    for (; d.reportsIndexed < d.reports.size(); ++d.reportsIndexed) {
      KVRReport* r = d.reports[d.reportsIndexed];
      if (!d.reportsByName.contains(r->filename)) d.reportsByName.insert(r->filename, r);  // the first one wins
    }
    auto it = d.reportsByName.constFind(filename);
    if (it == d.reportsByName.constEnd()) break;
    if (it.value()->filename == filename) return it.value();
    d.reportsIndexDirty = true;  // renamed behind our back: look again from scratch
  }
  KVRReport* r = insertReport();
  r->filename = filename;
  return r;
}

KVRReportEntry* KVRVortelyCoreDataManager::reportEntryInReport(KVRReport* /*report*/, KVRVortelyManagedProduct* product,
                                                               KVRDate date, const QString& country,
                                                               const QString& currency, int type,
                                                               bool /*forceCreate*/) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  KVRReportEntry* e = d_->entryPool.create();
  d_->newEntries.push_back(e);
  e->beginDate = date;
  e->currency = d_->strings.get(currency);
  e->country = d_->strings.get(country);
  if (type >= 11) {
    type -= 10;
    if (product) {
      product->category = QStringLiteral("E-Book");
      markChanged(product);
    }
  } else if (type == KVREntryTypeInAppPurchase) {
    if (product) {
      product->category = QStringLiteral("In-App Purchase");
      markChanged(product);
    }
  }
  e->type = type;
  return e;
}

float KVRVortelyCoreDataManager::incomeValueForReport(KVRReport* report) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  if (!report) return 0.0f;
  KVRVortelyCurrencyConverter& converter = KVRVortelyCurrencyConverter::sharedInstance();
  float sum = 0.0f;
  for (const KVRReportEntry* e : report->entries) {
    const float amount = float(e->count) * float(e->income);
    sum += converter.convertAmountToPreferedCurrency(amount, e->currency);
  }
  return sum / 100.0f;
}

void KVRVortelyCoreDataManager::deleteObject(KVRManagedObject* object) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  d_->removeFromContext(object);
}

void KVRVortelyCoreDataManager::deleteReportsResettingProducts(const std::vector<KVRReport*>& reports) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  std::vector<KVRVortelyManagedProduct*> holders;
  for (KVRReport* r : reports) {
    if (!r || d_->deleted.count(r)) continue;
    for (const KVRReportEntry* e : r->entries)
      if (e->product && std::find(holders.begin(), holders.end(), e->product) == holders.end())
        holders.push_back(e->product);
    d_->removeFromContext(r);
  }
  for (KVRVortelyManagedProduct* p : holders)
    if (!d_->deleted.count(p)) p->resetFinancialReports();
}

KVRStoreAccount* KVRVortelyCoreDataManager::insertStoreAccount() {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  KVRStoreAccount* a = createPending(d_->accountPool, d_->newAccounts);
  d_->accounts.push_back(a);
  return a;
}

KVRVortelyManagedProduct* KVRVortelyCoreDataManager::insertProduct(KVRStoreAccount* account) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  KVRVortelyManagedProduct* p = createPending(d_->productPool, d_->newProducts);
  attach(p, &KVRVortelyManagedProduct::account, account, &KVRStoreAccount::products);
  d_->products.push_back(p);
  return p;
}

KVRReport* KVRVortelyCoreDataManager::insertReport() {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  KVRReport* r = createPending(d_->reportPool, d_->newReports);
  d_->reports.push_back(r);
  return r;
}

KVRReportEntry* KVRVortelyCoreDataManager::insertReportEntry(KVRReport* report, KVRVortelyManagedProduct* product) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  KVRReportEntry* e = createForProduct(d_->entryPool, d_->newEntries, product, &KVRVortelyManagedProduct::entries);
  attach(e, &KVRReportEntry::report, report, &KVRReport::entries);
  return e;
}

// An ad line names its report but is not listed in it.
KVRiAdReportEntry* KVRVortelyCoreDataManager::insertIAdReportEntry(KVRReport* report, KVRVortelyManagedProduct* product) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  KVRiAdReportEntry* e = createForProduct(d_->iAdPool, d_->newIAdEntries, product, &KVRVortelyManagedProduct::iAdEntries);
  e->report = report;
  return e;
}

KVRRating* KVRVortelyCoreDataManager::insertRating(KVRVortelyManagedProduct* product) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  return createForProduct(d_->ratingPool, d_->newRatings, product, &KVRVortelyManagedProduct::ratings);
}

KVRCost* KVRVortelyCoreDataManager::insertCost(KVRVortelyManagedProduct* product) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  return createForProduct(d_->costPool, d_->newCosts, product, &KVRVortelyManagedProduct::costs);
}

KVRPartner* KVRVortelyCoreDataManager::insertPartner(KVRVortelyManagedProduct* product) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  return createForProduct(d_->partnerPool, d_->newPartners, product, &KVRVortelyManagedProduct::partners);
}

void KVRVortelyCoreDataManager::markChanged(KVRManagedObject* object) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  if (dynamic_cast<KVRReport*>(object)) d_->reportsIndexDirty = true;
  // A new object is written whole by the next save anyway.
  if (!object || object->objectID <= 0 || d_->deleted.count(object)) return;
  d_->changed.insert(object);
}

// ---------------------------------------------------------------------------
// User edits saved at once

bool KVRVortelyCoreDataManager::saveReportState(KVRReport* report, const ReportState& state, QString* error) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  auto fail = [&](const QString& why) {
    tellEditFailure(error, why);
    return false;
  };
  if (!d_->db) return fail(QStringLiteral("No database is open."));
  if (!report || d_->deleted.count(report)) return fail(QStringLiteral("The report is no longer in the database."));
  const ReportState before{report->status, report->pointedIncome, report->pointedDate, report->pointedAccount};
  auto apply = [report](const ReportState& s) {
    report->status = s.status;
    report->pointedIncome = s.pointedIncome;
    report->pointedDate = s.pointedDate;
    report->pointedAccount = s.pointedAccount;
  };
  if (report->objectID <= 0) {
    // Not in the file yet: it is written whole with everything else pending.
    apply(state);
    try {
      d_->writeChanges();
    } catch (const std::exception& e) {
      apply(before);
      return fail(writeFailure(e, d_->path, d_->busyWait));
    }
    return true;
  }
  try {
    SQLite::Database& d = *d_->db;
    SQLite::Transaction transaction(d);
    SQLite::Statement st(d, "UPDATE Report SET status=?, pointedIncome=?, pointedDate=?, pointedAccount=? WHERE id=?");
    st.bind(1, state.status);
    st.bind(2, double(state.pointedIncome));
    bindDate(st, 3, state.pointedDate);
    bindText(st, 4, state.pointedAccount);
    st.bind(5, static_cast<int64_t>(report->objectID));
    st.exec();
    transaction.commit();
  } catch (const std::exception& e) {
    return fail(writeFailure(e, d_->path, d_->busyWait));
  }
  apply(state);
  return true;
}

namespace {
// A new cost or partner row of a product already in the file; its row id, or
// an exception.
template <typename Bind>
int64_t insertRow(SQLite::Database& d, const char* sql, const Bind& bind) {
  SQLite::Transaction transaction(d);
  SQLite::Statement st(d, sql);
  bind(st);
  st.exec();
  const int64_t id = d.getLastInsertRowid();
  transaction.commit();
  return id;
}
}  // namespace

template <typename T>
T* KVRVortelyCoreDataManager::addSavedToProduct(KVRVortelyManagedProduct* product, QString* error,
                                                T* (KVRVortelyCoreDataManager::*insert)(KVRVortelyManagedProduct*),
                                                void (KVRVortelyManagedProduct::*attach)(T*), const char* sql,
                                                const std::function<void(SQLite::Statement&)>& bindValues,
                                                const std::function<void(T*)>& fill) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  auto fail = [&](const QString& why) -> T* {
    tellEditFailure(error, why);
    return nullptr;
  };
  if (!d_->db) return fail(QStringLiteral("No database is open."));
  if (!product || d_->deleted.count(product)) return fail(QStringLiteral("The product is no longer in the database."));
  if (product->objectID <= 0) {
    T* x = (this->*insert)(product);
    fill(x);
    try {
      d_->writeChanges();
    } catch (const std::exception& e) {
      d_->removeFromContext(x);
      return fail(writeFailure(e, d_->path, d_->busyWait));
    }
    return x;
  }
  int64_t id = 0;
  try {
    id = insertRow(*d_->db, sql, [&](SQLite::Statement& st) {
      bindId(st, 1, product);
      bindValues(st);
    });
  } catch (const std::exception& e) {
    return fail(writeFailure(e, d_->path, d_->busyWait));
  }
  T* x = d_->poolOf(static_cast<T*>(nullptr)).create();
  x->objectID = id;
  fill(x);
  x->product = product;
  (product->*attach)(x);
  return x;
}

KVRCost* KVRVortelyCoreDataManager::addCost(KVRVortelyManagedProduct* product, const QString& name, double value,
                                            QString* error) {
  return addSavedToProduct<KVRCost>(
      product, error, &KVRVortelyCoreDataManager::insertCost, &KVRVortelyManagedProduct::addCostsObject,
      "INSERT INTO Cost (product_id, name, value) VALUES (?,?,?)",
      [&](SQLite::Statement& st) {
        bindText(st, 2, name);
        st.bind(3, value);
      },
      [&](KVRCost* c) {
        c->name = name;
        c->value = value;
      });
}

KVRPartner* KVRVortelyCoreDataManager::addPartner(KVRVortelyManagedProduct* product, const QString& name, double cost,
                                                  double royalties, QString* error) {
  return addSavedToProduct<KVRPartner>(
      product, error, &KVRVortelyCoreDataManager::insertPartner, &KVRVortelyManagedProduct::addPartnersObject,
      "INSERT INTO Partner (product_id, name, cost, royalties) VALUES (?,?,?,?)",
      [&](SQLite::Statement& st) {
        bindText(st, 2, name);
        st.bind(3, cost);
        st.bind(4, royalties);
      },
      [&](KVRPartner* x) {
        x->name = name;
        x->cost = cost;
        x->royalties = royalties;
      });
}

void KVRVortelyCoreDataManager::loadRatings() {
  bool expected = false;
  if (!ratingsLoading_.compare_exchange_strong(expected, true)) return;  // one load at a time
  {
    std::lock_guard<std::recursive_mutex> lock(contextLock_);
    for (KVRVortelyManagedProduct* p : d_->products) p->cacheRatings();
    ratingsLoaded_ = true;
  }
  ratingsLoading_ = false;
  KVRNotificationEnvelope envelope;
  envelope.NotificationName = KVRVortelyRatingsHaveBeenLoaded;
  KVRNotificationCenter::defaultCenter().sendNotification(envelope);
}
