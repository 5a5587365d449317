// Saving: every inserted, changed and deleted object written in one transaction.
#include "core/KVRVortelyCoreDataManagerImpl.h"

namespace {

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

}  // namespace

// ---------------------------------------------------------------------------
// Saving

void KVRVortelyCoreDataManager::Impl::writeChanges() {
  SQLite::Database& d = *db;
  std::vector<KVRManagedObject*> assigned;  // ids given in this save, undone when it fails
  std::vector<const KVRReport*> amountsWritten;  // reconciled amounts now the program's own
  try {
    SQLite::Transaction transaction(d);

    {
      std::unordered_map<int, std::unique_ptr<SQLite::Statement>> deletes;  // one per table
      for (const auto& [kind, id] : deletedRows) {
        std::unique_ptr<SQLite::Statement>& st = deletes[int(kind)];
        if (!st) st = std::make_unique<SQLite::Statement>(d, std::string("DELETE FROM ") + tableOf(kind) + " WHERE id = ?");
        st->bind(1, static_cast<int64_t>(id));
        st->exec();
        st->reset();
      }
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

    // A new line made for a report or product (reportEntryInReport) and
    // listed in its lines without pointing back takes it as its own (both
    // sides of the relationship). Only those reports' and products' lines are
    // looked at, newest first (where new lines are), and no further than
    // their new lines: a save grows with the change, not with the store.
    {
      std::unordered_map<KVRReport*, std::unordered_set<const KVRReportEntry*>> byReport;
      std::unordered_map<KVRVortelyManagedProduct*, std::unordered_set<const KVRReportEntry*>> byProduct;
      for (KVRReportEntry* e : newEntries) {
        if (!live(e)) continue;
        const auto made = madeFor.find(e);
        if (made == madeFor.end()) continue;
        const auto [report, product] = made->second;
        if (!e->report && report && !deleted.count(report)) byReport[report].insert(e);
        if (!e->product && product && !deleted.count(product)) byProduct[product].insert(e);
      }
      auto claim = [](auto* owner, const std::unordered_set<const KVRReportEntry*>& lines, auto ownerOf) {
        size_t left = lines.size();
        for (auto it = owner->entries.rbegin(); left && it != owner->entries.rend(); ++it) {
          if (lines.count(*it) && !((*it)->*ownerOf)) {
            (*it)->*ownerOf = owner;
            --left;
          }
        }
      };
      for (const auto& [r, lines] : byReport) claim(r, lines, &KVRReportEntry::report);
      for (const auto& [p, lines] : byProduct) claim(p, lines, &KVRReportEntry::product);
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
      SQLite::Statement upReportKeepingAmount(d,
          "UPDATE Report SET account_id=?, filename=?, type=?, beginDate=?, endDate=?, status=?,"
          " pointedIncome=coalesce(pointedIncome, ?), pointedDate=?, pointedAccount=? WHERE id=?");
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
          case Kind::Report: {
            auto* r = static_cast<KVRReport*>(o);
            if (unreadPointedIncome.count(r) && r->pointedIncome == -1.0f) {
              // Its stored amount was not read: the file keeps it (but for a
              // NaN, which SQLite reads as NULL and no row may hold: -1).
              bindReport(upReportKeepingAmount, r);
              run(upReportKeepingAmount, 10, o);
            } else {
              bindReport(upReport, r);
              run(upReport, 10, o);
              amountsWritten.push_back(r);
            }
            break;
          }
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

  forgetWrittenChanges();
  for (const KVRReport* r : amountsWritten) unreadPointedIncome.erase(r);
  deletedRows.clear();
}

bool KVRVortelyCoreDataManager::save(QString* error) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  if (!d_->db) {
    if (error) *error = QStringLiteral("No database is open.");
    return false;
  }
  if (!d_->hasChanges()) return true;
  QString notWritable;
  if (!d_->writable(&notWritable)) {
    if (error) *error = notWritable;
    KVRVortelyLogCenter::sharedInstance().addLogEntry(notWritable, true, kLogKeyword);
    return false;
  }
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
