#pragma once
// Fixtures of the display tests: products and accounts owned by the test, a
// fake application delegate, and hand-made totals of one load.
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "core/KVRApplicationServices.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyManagedProduct.h"
#include "overview/KVROverviewPresenter.h"
#include "overview/KVRTotalsResult.h"

namespace display_test {

inline KVRDate day(int y, int m, int d) {
  return KVRCalendar::shared().dateFromComponents(KVRDateComponents::ymd(y, m, d));
}
inline KVRDate plusDays(KVRDate d, int n) {
  return KVRCalendar::shared().dateByAddingComponents(KVRDateComponents::days(n), d);
}

struct Store {
  std::vector<std::unique_ptr<KVRVortelyManagedProduct>> products;
  std::vector<std::unique_ptr<KVRStoreAccount>> accounts;
  std::vector<std::unique_ptr<KVRRating>> ratings;

  KVRStoreAccount* account(const QString& name) {
    accounts.push_back(std::make_unique<KVRStoreAccount>());
    accounts.back()->name = name;
    return accounts.back().get();
  }
  KVRVortelyManagedProduct* product(int64_t idStore, const QString& name, KVRStoreAccount* account = nullptr,
                                    const QString& category = QStringLiteral("Games")) {
    products.push_back(std::make_unique<KVRVortelyManagedProduct>());
    KVRVortelyManagedProduct* p = products.back().get();
    p->idStore = idStore;
    p->name = name;
    p->category = category;
    p->account = account;
    if (account) account->products.push_back(p);
    return p;
  }
  void rate(KVRVortelyManagedProduct* p, int stars, int count, int newCount, const QString& country = "143441") {
    ratings.push_back(std::make_unique<KVRRating>());
    KVRRating* r = ratings.back().get();
    r->product = p;
    r->stars = stars;
    r->count = count;
    r->newCount = newCount;
    r->country = country;
    p->ratings.push_back(r);
  }
};

class FakeApp : public KVRApplicationServices {
 public:
  std::vector<KVRVortelyManagedProduct*> selected, extended;
  std::vector<KVRStoreAccount*> accounts;
  KVRVortelyManagedProduct* delegateSelectedProduct = nullptr;
  bool accountSelected = false;
  bool round = false;

  KVRVortelyManagedProduct* selectedProduct() override { return delegateSelectedProduct; }
  std::vector<KVRVortelyManagedProduct*> selectedProducts() override { return selected; }
  std::vector<KVRVortelyManagedProduct*> extendedSelectedProducts() override { return extended; }
  std::vector<KVRStoreAccount*> selectedAccounts() override { return accounts; }
  bool isAccountSelected() override { return accountSelected; }
  bool shouldUpdateRankings() override { return false; }
  void refreshProductsList() override {}
  bool roundCurrencyValues() override { return round; }
};

// Installs a fake delegate for the life of a test.
struct AppScope {
  FakeApp app;
  KVRApplicationServices* previous;
  AppScope() : previous(KVRApplicationServices::current()) { KVRApplicationServices::setCurrent(&app); }
  ~AppScope() { KVRApplicationServices::setCurrent(previous); }
};

// One product's entry of a totals result, made by hand.
struct Entry {
  KVRProductTotals t;

  Entry& country(const QString& code, const std::function<void(KVRTotalsStruct&)>& set) {
    set(t.byCountry[code]);
    return *this;
  }
  Entry& totals(const std::function<void(KVRTotalsStruct&)>& set) {
    set(t.totals);
    return *this;
  }
  // Adds up the countries into the totals.
  Entry& sumCountries() {
    KVRTotalsStruct s;
    for (const auto& [code, c] : t.byCountry)
      for (int m = 0; m < KVRSummedMeasureCount; ++m)
        s.measure(KVRMeasure(m)) += c.measure(KVRMeasure(m));
    t.totals = s;
    return *this;
  }
  Entry& onDay(KVRDate d, const std::function<void(KVRTotalsStruct&)>& set) {
    t.hasSalesByDate = true;
    for (auto& [date, rec] : t.salesByDate)
      if (date == d) {
        set(rec);
        return *this;
      }
    t.salesByDate.emplace_back(d, KVRTotalsStruct{});
    set(t.salesByDate.back().second);
    return *this;
  }
};

inline std::function<void(KVRTotalsStruct&)> salesOf(float sales, float currency = 0) {
  return [=](KVRTotalsStruct& r) {
    r.sales = sales;
    r.currency = currency;
  };
}

// An input over one range, which is also the graph's, in euros.
inline KVROverviewInput rangeInput(int tag, KVRDate from, KVRDate to) {
  KVROverviewInput in;
  in.valueTag = tag;
  in.selectedPeriod = 1;
  in.startDate = from;
  in.endDate = to;
  in.graphStartDate = from;
  in.graphEndDate = to;
  in.lastDayDate = from;
  in.currentDayDate = to;
  in.currencySymbol = QStringLiteral("€");
  return in;
}

// An input for the one-product path over a graph range.
inline KVROverviewInput oneProductInput(KVRVortelyManagedProduct* p, const KVRProductTotals* previous,
                                        const KVRProductTotals* current, int tag, KVRDate from, KVRDate to) {
  KVROverviewInput in = rangeInput(tag, from, to);
  in.totals.previousEntry = previous;
  in.totals.currentEntry = current;
  in.extendedProducts = {p};
  return in;
}

inline KVROverviewInput severalInput(std::vector<KVRVortelyManagedProduct*> products, const KVRTotalsResult* current,
                                     const KVRTotalsResult* previous, int tag, KVRDate from, KVRDate to) {
  KVROverviewInput in = rangeInput(tag, from, to);
  in.totals.current = current;
  in.totals.previous = previous;
  in.extendedProducts = std::move(products);
  return in;
}

}  // namespace display_test
