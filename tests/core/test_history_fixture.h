#pragma once
// Hand-made products, reports and lines for the history and product tests:
// plain objects, no database.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/KVRCalendar.h"
#include "core/KVREntities.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "core/KVRVortelyManagedProduct.h"

class HistoryFixture : public ::testing::Test {
 protected:
  // A Monday.
  static constexpr KVRCivilDay D = KVRCivilDayFromYMD(2026, 3, 2);

  void TearDown() override {
    for (KVRVortelyManagedProduct* p : products_)
      KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().publish(p->idStore, nullptr);
  }

  static KVRDate dateOf(KVRCivilDay day) { return KVRCalendar::shared().dateFromCivilDay(day); }

  KVRVortelyManagedProduct* product(int64_t idStore) {
    auto* p = keep(std::make_unique<KVRVortelyManagedProduct>());
    p->idStore = idStore;
    products_.push_back(p);
    return p;
  }
  KVRReport* report(int type, KVRCivilDay day = D) {
    auto* r = keep(std::make_unique<KVRReport>());
    r->type = type;
    r->beginDate = dateOf(day);
    return r;  // objectID 0: not an object of the data manager's context
  }
  KVRReportEntry* line(KVRVortelyManagedProduct* p, KVRReport* r, int type, int count, int income,
                       const char* currency, const char* country, KVRCivilDay day, int subType = 0) {
    auto* e = keep(std::make_unique<KVRReportEntry>());
    e->objectID = ++nextID_;
    e->product = p;
    e->report = r;
    e->type = type;
    e->subType = subType;
    e->count = count;
    e->income = income;
    e->currency = QString::fromLatin1(currency);
    e->country = QString::fromLatin1(country);
    e->beginDate = dateOf(day);
    e->endDate = dateOf(day);
    if (r) r->entries.push_back(e);
    if (p) p->entries.push_back(e);
    return e;
  }
  KVRiAdReportEntry* ad(KVRVortelyManagedProduct* p, const char* country, KVRCivilDay day, float revenue,
                        float requests, float impressions, float eCPM, float ctr, float fillRate) {
    auto* a = keep(std::make_unique<KVRiAdReportEntry>());
    a->objectID = ++nextID_;
    a->product = p;
    a->country = QString::fromLatin1(country);
    a->date = dateOf(day);
    a->revenue = revenue;
    a->requests = requests;
    a->impressions = impressions;
    a->eCPM = eCPM;
    a->ctr = ctr;
    a->fillRate = fillRate;
    p->iAdEntries.push_back(a);
    return a;
  }

  template <typename T> T* keep(std::unique_ptr<T> o) {
    T* raw = o.get();
    owned_.push_back(std::move(o));
    return raw;
  }

 private:
  std::vector<std::unique_ptr<KVRManagedObject>> owned_;
  std::vector<KVRVortelyManagedProduct*> products_;
  int64_t nextID_ = 0;
};
