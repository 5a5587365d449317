// The bulk load of the report lines, most of the file: read from the file's
// pages or through SQLite by a few threads, checked line by line.
#include "core/KVRVortelyCoreDataManagerImpl.h"
#include "core/KVRVortelyCoreDataManagerRows.h"

#include <cstring>
#include <stdexcept>
#include <thread>

#include "core/KVRProcessors.h"

// Report lines are most of the file. They are read straight from the file's
// pages when it is plainly laid out (KVRTableFileReader), else through SQLite
// in rowid ranges; either way by a few threads (as many as the process may run
// on, at most four), each into its own block pool and in rowid order, then
// linked to their products and reports in that order, so the relationship
// vectors come out as a single sequential read would give them, each made at
// its final size.
namespace {

// The columns of a report line, in the order its Row holds them.
enum LineColumn { LProduct, LReport, LType, LSubType, LCount, LIncome, LCurrency, LCountry, LBegin, LEnd };
const std::vector<const char*> kLineColumns = {"product_id", "report_id", "type",    "subType",   "count",
                                               "income",     "currency",  "country", "beginDate", "endDate"};

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
  bool lastReportLeftOut = false;
  // Lines left out, by report id, and lines whose report does not exist.
  std::unordered_map<int64_t, LoadProblems::Lines> leftOut;
  uint64_t orphans = 0;
  std::vector<int64_t> orphanReportIds;  // the first few

  void flushRuns() {
    if (lastProduct && productRun) productLines[lastProduct] += productRun;
    if (lastReport && reportRun) reportLines[lastReport] += reportRun;
    productRun = reportRun = 0;
  }
};

}  // namespace

// Makes one line in a part, unless it is left out: a line of a report left
// out, a financial report's line without a date (the report's dates come from
// its lines) or a line whose count or amount cannot be read.
template <typename ProductMap, typename ReportMap>
static void makeLine(LinePart& part, const Row& q, const ProductMap& productById, const ReportMap& reportById,
                     const std::unordered_set<int64_t>& leftOutReports) {
  const int64_t productId = q.integer(LProduct), reportId = q.integer(LReport);
  if (reportId != part.lastReportId) {
    if (part.reportRun && part.lastReport) part.reportLines[part.lastReport] += part.reportRun;
    part.reportRun = 0;
    part.lastReportId = reportId;
    part.lastReport = reportById.find(reportId);
    part.lastReportLeftOut = !part.lastReport && leftOutReports.count(reportId);
  }
  if (part.lastReportLeftOut) return;
  const KVRDate beginDate = lineDate(q, LBegin);
  if (!beginDate.isValid() && part.lastReport && part.lastReport->type == KVRReportTypeFinancial) {
    ++part.leftOut[reportId].withoutDate;
    return;
  }
  int count = 0, income = 0;
  if (!wholeNumber(q, LCount, &count) || !wholeNumber(q, LIncome, &income)) {
    ++part.leftOut[reportId].unreadNumbers;
    return;
  }
  if (!part.lastReport) {
    ++part.orphans;
    if (part.orphanReportIds.size() < 5 &&
        std::find(part.orphanReportIds.begin(), part.orphanReportIds.end(), reportId) == part.orphanReportIds.end())
      part.orphanReportIds.push_back(reportId);
  }
  if (productId != part.lastProductId) {
    if (part.productRun && part.lastProduct) part.productLines[part.lastProduct] += part.productRun;
    part.productRun = 0;
    part.lastProductId = productId;
    part.lastProduct = productById.find(productId);
  }
  ++part.productRun;
  ++part.reportRun;
  KVRReportEntry* e = part.pool->create();
  e->objectID = q.id();
  e->product = part.lastProduct;
  e->report = part.lastReport;
  e->type = int(q.integer(LType));
  e->subType = int(q.integer(LSubType));
  e->count = count;
  e->income = income;
  e->currency = q.code(LCurrency, part.strings);
  e->country = q.code(LCountry, part.strings);
  e->beginDate = q.date(LBegin);
  e->endDate = q.date(LEnd);
}

void KVRVortelyCoreDataManager::Impl::loadEntries(const IdMap<KVRVortelyManagedProduct>& productById,
                                                 const IdMap<KVRReport>& reportById) {
  const std::string file = db->getFilename();
  const std::unordered_set<int64_t>& leftOut = loadProblems.leftOutReports;
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
            makeLine(part, Row(rowid, vals, count, position.data()), productById, reportById, leftOut);
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
          h, "ReportEntry", kLineColumns, [&](const Row& q) { makeLine(part, q, productById, reportById, leftOut); }, &range);
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
    for (const auto& [id, lines] : part.leftOut) {
      loadProblems.byReport[id].withoutDate += lines.withoutDate;
      loadProblems.byReport[id].unreadNumbers += lines.unreadNumbers;
    }
    loadProblems.orphanLines += part.orphans;
    for (int64_t id : part.orphanReportIds)
      if (loadProblems.orphanReportIds.size() < 5 &&
          std::find(loadProblems.orphanReportIds.begin(), loadProblems.orphanReportIds.end(), id) ==
              loadProblems.orphanReportIds.end())
        loadProblems.orphanReportIds.push_back(id);
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
