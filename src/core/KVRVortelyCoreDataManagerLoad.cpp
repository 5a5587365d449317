// The bulk load: every table of the file read into the context at open, each
// row through the one row reader; the report lines, most of the file, in
// KVRVortelyCoreDataManagerLines.cpp.
#include "core/KVRVortelyCoreDataManagerImpl.h"
#include "core/KVRVortelyCoreDataManagerRows.h"

#include "platform/KVRLocalization.h"

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

  // A financial report stored twice (same account, same file name) counts
  // once: the first one read stays, the others are left out with their lines.
  QHash<QPair<qint64, QString>, int64_t> financialReports;
  readTable(h, "Report",
            {"account_id", "filename", "type", "beginDate", "endDate", "status", "pointedIncome", "pointedDate",
             "pointedAccount"},
            [&](const Row& q) {
              const int type = int(q.integer(2));
              if (type == KVRReportTypeFinancial) {
                const auto key = qMakePair(qint64(q.integer(0)), q.text(1));
                const auto first = financialReports.constFind(key);
                if (first != financialReports.constEnd()) {
                  loadProblems.leftOutReports.insert(q.id());
                  loadProblems.log(QStringLiteral("Report \"%1\" is stored twice (rows %2 and %3): the second is left out "
                                                  "with its lines.")
                                       .arg(key.second)
                                       .arg(first.value())
                                       .arg(q.id()));
                  return;
                }
                financialReports.insert(key, q.id());
              }
              KVRReport* r = reportPool.create();
              r->objectID = q.id();
              r->account = accountById.find(q.integer(0));
              r->filename = q.text(1);
              r->type = type;
              r->beginDate = q.date(3);
              r->endDate = q.date(4);
              r->status = int(q.integer(5));
              // A reconciled amount is a finite number >= 0; -1 says not
              // reconciled. Any other stored value reads as not reconciled and
              // stays in the file as it is until the user records an amount.
              float pointed = -1.0f;
              if (!floatNumber(q, 6, &pointed) || (pointed < 0.0f && pointed != -1.0f)) {
                loadProblems.log(QStringLiteral("Report \"%1\": its reconciled amount (%2) is not a number of money "
                                                "received; it reads as not reconciled.")
                                     .arg(r->filename, describe(q[6])));
                unreadPointedIncome.insert(r);
                pointed = -1.0f;
              }
              r->pointedIncome = pointed;
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
              float figures[6];
              for (int c = 0; c < 6; ++c) {
                if (!floatNumber(q, 4 + c, &figures[c])) {
                  ++loadProblems.byReport[q.integer(1)].unreadNumbers;
                  return;
                }
              }
              KVRiAdReportEntry* e = iAdPool.create();
              e->objectID = q.id();
              e->product = productById.find(q.integer(0));
              e->report = reportById.find(q.integer(1));
              e->date = q.date(2);
              e->country = q.code(3, strings);
              e->revenue = figures[0];
              e->requests = figures[1];
              e->impressions = figures[2];
              e->fillRate = figures[3];
              e->ctr = figures[4];
              e->eCPM = figures[5];
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

  tellLoadProblems(reportById);
}

// Logs what the load left out, report by report, and makes the one notice
// that names the reports whose numbers could not be read.
void KVRVortelyCoreDataManager::Impl::tellLoadProblems(const IdMap<KVRReport>& reportById) {
  auto nameOf = [&](int64_t id) {
    const KVRReport* r = reportById.find(id);
    return r ? r->filename : QStringLiteral("#%1").arg(id);
  };
  std::vector<int64_t> ids;
  for (const auto& [id, lines] : loadProblems.byReport) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  QStringList unreadReports;
  uint64_t unreadLines = 0;
  for (int64_t id : ids) {
    const LoadProblems::Lines& lines = loadProblems.byReport[id];
    if (lines.withoutDate)
      loadProblems.log(QStringLiteral("Report \"%1\": %2 lines without a date left out.").arg(nameOf(id)).arg(lines.withoutDate));
    if (lines.unreadNumbers) {
      loadProblems.log(QStringLiteral("Report \"%1\": %2 lines left out, their count or amount is not a number "
                                      "the line can hold.")
                           .arg(nameOf(id))
                           .arg(lines.unreadNumbers));
      unreadReports << nameOf(id);
      unreadLines += lines.unreadNumbers;
    }
  }
  if (loadProblems.orphanLines) {
    QStringList named;
    for (int64_t id : loadProblems.orphanReportIds) named << QString::number(id);
    loadProblems.log(QStringLiteral("%1 report lines belong to no report that exists (report ids %2%3); they count in "
                                    "no report.")
                         .arg(loadProblems.orphanLines)
                         .arg(named.join(QStringLiteral(", ")), loadProblems.orphanLines > uint64_t(named.size())
                                                                    ? QStringLiteral(", ...")
                                                                    : QString()));
  }
  if (unreadReports.isEmpty()) return;
  constexpr int kNamed = 3;
  QStringList quoted;
  for (int i = 0; i < std::min<int>(kNamed, int(unreadReports.size())); ++i)
    quoted << QStringLiteral("“%1”").arg(unreadReports[i]);
  QString reportsText = quoted.join(QStringLiteral(", "));
  if (unreadReports.size() > kNamed)
    reportsText = KVRLocalized("%1 and %2 more").arg(reportsText).arg(unreadReports.size() - kNamed);
  loadNotice = KVRVortelyCoreDataManager::LoadNotice{
      KVRLocalized("Some report lines could not be read"),
      KVRLocalized("%1 report lines hold a count or an amount that is not a number Vortely can use (a "
                   "fraction, a number too large, an infinity or text). They were left out of every figure; the "
                   "database keeps them as they are.\n\nReports concerned (%2): %3.")
          .arg(unreadLines)
          .arg(unreadReports.size())
          .arg(reportsText)};
}
