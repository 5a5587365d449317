// The object store: the context's objects, their insertion and their deletion.
#include "core/KVRVortelyCoreDataManagerImpl.h"

namespace {

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

}  // namespace

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
