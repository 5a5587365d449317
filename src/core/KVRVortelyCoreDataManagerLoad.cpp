// The bulk load: every table of the file read into the context at open, each
// row through one reader whatever its source (a statement or the file's pages).
#include "core/KVRVortelyCoreDataManagerImpl.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "core/KVRProcessors.h"
#include "core/KVRTableFileReader.h"

namespace {

using Value = KVRTableFileReader::Value;

// One row of a table, however it was read: its row id and the values of the
// columns the reader asked for, in the order it asked them. A column the row
// does not hold (written before the column was added) reads as NULL. Values
// read as SQLite's column functions read them.
class Row {
 public:
  Row(int64_t id, const Value* values, size_t count, const int* position)
      : id_(id), values_(values), count_(count), position_(position) {}

  int64_t id() const { return id_; }
  const Value& operator[](int column) const {
    static const Value null;
    const int at = position_ ? position_[column] : column;
    return at >= 0 && size_t(at) < count_ ? values_[at] : null;
  }
  // As sqlite3_column_int64: NULL 0, a real truncated within the 64-bit range.
  int64_t integer(int column) const {
    const Value& v = (*this)[column];
    switch (v.kind) {
      case Value::Integer: return v.i;
      case Value::Real: return realToInteger(v.r);
      case Value::Text: return realToInteger(std::strtod(std::string(v.bytes).c_str(), nullptr));
      default: return 0;
    }
  }
  // As sqlite3_column_double.
  double real(int column) const {
    const Value& v = (*this)[column];
    switch (v.kind) {
      case Value::Integer: return double(v.i);
      case Value::Real: return v.r;
      case Value::Text: return std::strtod(std::string(v.bytes).c_str(), nullptr);
      default: return 0;
    }
  }
  // Dates are REAL milliseconds, NULL when there is no date.
  KVRDate date(int column) const {
    return (*this)[column].kind == Value::Null ? KVRDate() : KVRDate(real(column));
  }
  // The text's UTF-8 bytes, up to its first NUL when asked; null: no text.
  std::string_view bytes(int column, bool toNul = false) const {
    const Value& v = (*this)[column];
    if (v.kind != Value::Text && v.kind != Value::Blob) return std::string_view();
    std::string_view t = v.bytes.data() ? v.bytes : std::string_view("", 0);
    return toNul ? t.substr(0, t.find('\0')) : t;
  }
  bool isNull(int column) const { return (*this)[column].kind == Value::Null; }
  QString text(int column) const {
    if (isNull(column)) return QString();
    const std::string_view t = bytes(column);
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
  }
  // A short text repeated over many rows, one shared copy per distinct value.
  QString code(int column, StringInterner& strings) const {
    if (isNull(column)) return QString();
    const std::string_view t = bytes(column, true);
    return strings.get(t.data(), t.size());
  }
  QByteArray blob(int column) const {
    const std::string_view b = bytes(column);
    return b.size() > 0 ? QByteArray(b.data(), qsizetype(b.size())) : QByteArray();
  }

 private:
  static int64_t realToInteger(double r) {
    if (std::isnan(r)) return 0;
    if (r <= -9223372036854775808.0) return INT64_MIN;
    if (r >= 9223372036854775808.0) return INT64_MAX;
    return int64_t(r);
  }
  int64_t id_;
  const Value* values_;
  size_t count_;
  const int* position_;
};

// Reads the rows of a table through SQLite, in row id order, handing each to
// row(const Row&): "SELECT id, columns... FROM table", within [first, last]
// when a range is given. Throws on failure.
template <typename RowFn>
void readTable(sqlite3* h, const char* table, const std::vector<const char*>& columns, RowFn&& row,
               const std::pair<int64_t, int64_t>* range = nullptr) {
  std::string sql = "SELECT id";
  for (const char* c : columns) sql += std::string(", ") + c;
  sql += std::string(" FROM ") + table;
  if (range) sql += " WHERE id BETWEEN ? AND ?";
  sql += " ORDER BY id";
  sqlite3_stmt* q = nullptr;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &q, nullptr) != SQLITE_OK) throw SQLite::Exception(h, sqlite3_errcode(h));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(q, &sqlite3_finalize);
  if (range) {
    sqlite3_bind_int64(q, 1, range->first);
    sqlite3_bind_int64(q, 2, range->second);
  }
  std::vector<Value> values(columns.size());
  int rc;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
    for (size_t c = 0; c < columns.size(); ++c) {
      const int col = int(c) + 1;
      Value& v = values[c];
      v = Value();
      switch (sqlite3_column_type(q, col)) {
        case SQLITE_INTEGER: v.kind = Value::Integer, v.i = sqlite3_column_int64(q, col); break;
        case SQLITE_FLOAT: v.kind = Value::Real, v.r = sqlite3_column_double(q, col); break;
        case SQLITE_TEXT: {
          const char* t = reinterpret_cast<const char*>(sqlite3_column_text(q, col));
          v.kind = Value::Text;
          v.bytes = std::string_view(t ? t : "", size_t(sqlite3_column_bytes(q, col)));
          break;
        }
        case SQLITE_BLOB: {
          const char* b = static_cast<const char*>(sqlite3_column_blob(q, col));
          v.kind = Value::Blob;
          v.bytes = std::string_view(b ? b : "", size_t(sqlite3_column_bytes(q, col)));
          break;
        }
        default: break;
      }
    }
    row(Row(sqlite3_column_int64(q, 0), values.data(), values.size(), nullptr));
  }
  if (rc != SQLITE_DONE) throw SQLite::Exception(h, rc);
}

// The columns of a report line, in the order its Row holds them.
enum LineColumn { LProduct, LReport, LType, LSubType, LCount, LIncome, LCurrency, LCountry, LBegin, LEnd };
const std::vector<const char*> kLineColumns = {"product_id", "report_id", "type",    "subType",   "count",
                                               "income",     "currency",  "country", "beginDate", "endDate"};

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

  readTable(h, "StoreAccount", {"name", "developer", "login", "password", "icon"}, [&](const Row& q) {
    KVRStoreAccount* a = accountPool.create();
    a->objectID = q.id();
    a->name = q.text(0);
    a->developer = q.text(1);
    a->login = q.text(2);
    a->password = q.text(3);
    a->icon = q.blob(4);
    accounts.push_back(a);
  });
  IdMap<KVRStoreAccount> accountById;
  accountById.build(accounts);

  readTable(h, "Product",
            {"account_id", "idStore", "name", "category", "bundleIdentifier", "version", "free", "firstDate",
             "lastDate", "iconData"},
            [&](const Row& q) {
              KVRVortelyManagedProduct* p = productPool.create();
              p->objectID = q.id();
              p->account = accountById.find(q.integer(0));
              p->idStore = q.integer(1);
              p->name = q.text(2);
              p->category = q.code(3, strings);
              p->bundleIdentifier = q.text(4);
              p->version = q.text(5);
              p->free = int(q.integer(6)) != 0;
              p->firstDate = q.date(7);
              p->lastDate = q.date(8);
              p->iconData = q.blob(9);
              if (p->account) p->account->products.push_back(p);
              products.push_back(p);
            });
  IdMap<KVRVortelyManagedProduct> productById;
  productById.build(products);

  readTable(h, "Report",
            {"account_id", "filename", "type", "beginDate", "endDate", "status", "pointedIncome", "pointedDate",
             "pointedAccount"},
            [&](const Row& q) {
              KVRReport* r = reportPool.create();
              r->objectID = q.id();
              r->account = accountById.find(q.integer(0));
              r->filename = q.text(1);
              r->type = int(q.integer(2));
              r->beginDate = q.date(3);
              r->endDate = q.date(4);
              r->status = int(q.integer(5));
              r->pointedIncome = float(q.real(6));
              r->pointedDate = q.date(7);
              r->pointedAccount = q.code(8, strings);
              reports.push_back(r);
            });
  IdMap<KVRReport> reportById;
  reportById.build(reports);

  loadEntries(productById, reportById);

  readTable(h, "iAdReportEntry",
            {"product_id", "report_id", "date", "country", "revenue", "requests", "impressions", "fillRate", "ctr",
             "eCPM"},
            [&](const Row& q) {
              KVRiAdReportEntry* e = iAdPool.create();
              e->objectID = q.id();
              e->product = productById.find(q.integer(0));
              e->report = reportById.find(q.integer(1));
              e->date = q.date(2);
              e->country = q.code(3, strings);
              e->revenue = float(q.real(4));
              e->requests = float(q.real(5));
              e->impressions = float(q.real(6));
              e->fillRate = float(q.real(7));
              e->ctr = float(q.real(8));
              e->eCPM = float(q.real(9));
              if (e->product) e->product->iAdEntries.push_back(e);
            });

  readTable(h, "Rating", {"product_id", "country", "stars", "allVersions", "count", "newCount"}, [&](const Row& q) {
    KVRRating* r = ratingPool.create();
    r->objectID = q.id();
    r->product = productById.find(q.integer(0));
    r->country = q.code(1, strings);
    r->stars = int(q.integer(2));
    r->allVersions = int(q.integer(3)) != 0;
    r->count = int(q.integer(4));
    r->newCount = int(q.integer(5));
    if (r->product) r->product->ratings.push_back(r);
  });

  readTable(h, "Cost", {"product_id", "name", "value"}, [&](const Row& q) {
    KVRCost* c = costPool.create();
    c->objectID = q.id();
    c->product = productById.find(q.integer(0));
    c->name = q.text(1);
    c->value = q.real(2);
    if (c->product) c->product->costs.push_back(c);
  });

  readTable(h, "Partner", {"product_id", "name", "cost", "royalties"}, [&](const Row& q) {
    KVRPartner* p = partnerPool.create();
    p->objectID = q.id();
    p->product = productById.find(q.integer(0));
    p->name = q.text(1);
    p->cost = q.real(2);
    p->royalties = q.real(3);
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

}  // namespace

// Makes one line in a part.
template <typename ProductMap, typename ReportMap>
static void makeLine(LinePart& part, const Row& q, const ProductMap& productById, const ReportMap& reportById) {
  KVRReportEntry* e = part.pool->create();
  e->objectID = q.id();
  const int64_t productId = q.integer(LProduct), reportId = q.integer(LReport);
  if (productId != part.lastProductId) {
    if (part.productRun && part.lastProduct) part.productLines[part.lastProduct] += part.productRun;
    part.productRun = 0;
    part.lastProductId = productId;
    part.lastProduct = productById.find(productId);
  }
  if (reportId != part.lastReportId) {
    if (part.reportRun && part.lastReport) part.reportLines[part.lastReport] += part.reportRun;
    part.reportRun = 0;
    part.lastReportId = reportId;
    part.lastReport = reportById.find(reportId);
  }
  ++part.productRun;
  ++part.reportRun;
  e->product = part.lastProduct;
  e->report = part.lastReport;
  e->type = int(q.integer(LType));
  e->subType = int(q.integer(LSubType));
  e->count = int(q.integer(LCount));
  e->income = int(q.integer(LIncome));
  e->currency = q.code(LCurrency, part.strings);
  e->country = q.code(LCountry, part.strings);
  e->beginDate = q.date(LBegin);
  e->endDate = q.date(LEnd);
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
    const size_t wanted = kLineColumns.size();
    std::vector<int> position(wanted, -1);
    int columns = 0;
    bool rowidKey = false;
    {
      SQLite::Statement q(*db, "PRAGMA table_info(ReportEntry)");
      while (q.executeStep()) {
        const std::string name = q.getColumn(1).getString();
        const int cid = q.getColumn(0).getInt();
        columns = std::max(columns, cid + 1);
        if (name == "id") rowidKey = q.getColumn(5).getInt() == 1 && q.getColumn(2).getString() == "INTEGER";
        for (size_t c = 0; c < wanted; ++c)
          if (name == kLineColumns[c]) position[c] = cid;
      }
    }
    if (!rowidKey || std::find(position.begin(), position.end(), -1) != position.end())
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
      std::string partWhy;
      const size_t first = leaves.size() * i / n, last = leaves.size() * (i + 1) / n;
      const bool ok = reader->readRows(
          leaves, first, last, size_t(columns),
          [&](int64_t rowid, const Value* vals, size_t count) {
            makeLine(part, Row(rowid, vals, count, position.data()), productById, reportById);
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
      const std::pair<int64_t, int64_t> range(minId + rows * int64_t(i) / int64_t(n),
                                              minId + rows * int64_t(i + 1) / int64_t(n) - 1);
      readTable(
          h, "ReportEntry", kLineColumns, [&](const Row& q) { makeLine(part, q, productById, reportById); }, &range);
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
