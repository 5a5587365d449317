// The bulk load: every table of the file read into the context at open.
#include "core/KVRVortelyCoreDataManagerImpl.h"

#include <cstring>
#include <stdexcept>
#include <thread>

#include "core/KVRProcessors.h"
#include "core/KVRTableFileReader.h"

namespace {

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

}  // namespace

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
