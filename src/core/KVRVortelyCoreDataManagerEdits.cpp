// User edits saved at once: a report's state, a product's new cost or partner.
#include "core/KVRVortelyCoreDataManagerImpl.h"

bool KVRVortelyCoreDataManager::saveReportState(KVRReport* report, const ReportState& state, QString* error) {
  std::lock_guard<std::recursive_mutex> lock(contextLock_);
  auto fail = [&](const QString& why) {
    tellEditFailure(error, why);
    return false;
  };
  if (!d_->db) return fail(QStringLiteral("No database is open."));
  if (!report || d_->deleted.count(report)) return fail(QStringLiteral("The report is no longer in the database."));
  QString notWritable;
  if (!d_->writable(&notWritable)) return fail(notWritable);
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
  // A stored amount the load could not read stays in the file until the user
  // records one (but for a NaN, which SQLite reads as NULL and no row may
  // hold: it becomes -1, not reconciled).
  const bool keepAmount = d_->unreadPointedIncome.count(report) && state.pointedIncome == -1.0f;
  try {
    SQLite::Database& d = *d_->db;
    SQLite::Transaction transaction(d);
    SQLite::Statement st(d, keepAmount ? "UPDATE Report SET status=?, pointedIncome=coalesce(pointedIncome, ?), "
                                         "pointedDate=?, pointedAccount=? WHERE id=?"
                                       : "UPDATE Report SET status=?, pointedIncome=?, pointedDate=?, pointedAccount=? "
                                         "WHERE id=?");
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
  if (!keepAmount) d_->unreadPointedIncome.erase(report);
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
  QString notWritable;
  if (!d_->writable(&notWritable)) return fail(notWritable);
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
