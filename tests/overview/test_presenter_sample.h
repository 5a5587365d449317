#pragma once
// A realistic overview: three apps of one account over four weeks, sold in a
// handful of countries, with a previous span to compare with. Used to look at
// the screen and the printed report.
#include <cmath>

#include "core/KVRProductValues.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "overview/KVROverviewPresenter.h"
#include "platform/KVRUserDefaults.h"
#include "test_presenter_fixtures.h"

namespace display_test {

struct Sample {
  Store store;
  KVRTotalsResult current, previous;
  KVROverviewInput input;
  std::vector<KVRVortelyManagedProduct*> products;
};

// valueTag 4 (revenues) by default; oneProduct keeps the first app only.
inline void makeSample(Sample& s, int valueTag = 4, bool oneProduct = false) {
  KVRStoreAccount* acc = s.store.account("Pelliro Labs");
  const char* names[] = {"Cloud Notes", "Pocket Atlas", "Tide Tables"};
  const QColor colors[] = {QColor(0x3b, 0x82, 0xc4), QColor(0xe0, 0x8a, 0x2e), QColor(0x8e, 0x5c, 0xd6)};
  const char* countries[] = {"US", "GB", "FR", "DE", "JP", "CA", "AU"};
  const float countryWeight[] = {0.38f, 0.14f, 0.12f, 0.11f, 0.1f, 0.08f, 0.07f};
  const float price[] = {2.99f, 4.99f, 0.99f};
  const KVRDate from = day(2026, 2, 9), to = day(2026, 3, 8);
  const int days = 28;
  const int count = oneProduct ? 1 : 3;
  for (int p = 0; p < count; ++p) {
    KVRVortelyManagedProduct* prod = s.store.product(100 + p, names[p], acc);
    prod->curveColor = colors[p];
    s.products.push_back(prod);
    Entry cur, prev;
    for (int d = 0; d < days; ++d) {
      const float base = (40.0f - 9.0f * p) * (1.0f + 0.35f * std::sin(d * 0.45f + p)) + (d % 7 >= 5 ? 12 : 0);
      const float sales = std::round(base + d * 0.8f);
      const float upgrades = std::round(base * 0.3f);
      cur.onDay(KVRCalendar::shared().dateByAddingComponents(KVRDateComponents::days(d), from),
                [&](KVRTotalsStruct& r) {
                  r.sales = sales;
                  r.upgrades = upgrades;
                  r.downloads = sales + upgrades;
                  r.currency = sales * price[p] * 0.7f;
                  r.refunds = d % 9 == 0 ? 1 : 0;
                });
    }
    float totalSales = 0, totalUpgrades = 0, totalCurrency = 0;
    for (const auto& [date, r] : cur.t.salesByDate) {
      totalSales += r.sales;
      totalUpgrades += r.upgrades;
      totalCurrency += r.currency;
    }
    for (int c = 0; c < 7; ++c)
      cur.country(countries[c], [&](KVRTotalsStruct& r) {
        r.sales = std::round(totalSales * countryWeight[c]);
        r.upgrades = std::round(totalUpgrades * countryWeight[c]);
        r.downloads = r.sales + r.upgrades;
        r.currency = totalCurrency * countryWeight[c];
      });
    cur.sumCountries();
    cur.t.totals.refunds = 3;
    prev.totals([&](KVRTotalsStruct& r) {
      r.sales = std::round(totalSales * (0.8f + 0.15f * p));
      r.currency = totalCurrency * (0.8f + 0.15f * p);
      r.upgrades = std::round(totalUpgrades * 1.1f);
    });
    s.current[prod->idStore] = cur.t;
    s.previous[prod->idStore] = prev.t;
  }
  KVROverviewInput& in = s.input;
  in.valueTag = valueTag;
  in.selectedPeriod = 2;
  in.startDate = in.graphStartDate = in.lastDayDate = from;
  in.endDate = in.graphEndDate = in.currentDayDate = to;
  in.regionTitle = QStringLiteral("All Regions");
  in.currencySymbol = QStringLiteral("€");
  in.extendedProducts = s.products;
  if (oneProduct) {
    in.totals.currentEntry = &s.current.begin()->second;
    in.totals.previousEntry = &s.previous.begin()->second;
  } else {
    in.totals.current = &s.current;
    in.totals.previous = &s.previous;
  }
}

// Every money figure of the sample's totals (both spans, every country and
// day) times `factor`.
inline void scaleMoney(Sample& s, float factor) {
  auto grow = [factor](KVRTotalsStruct& r) { r.currency *= factor; };
  for (auto* result : {&s.current, &s.previous})
    for (auto& [id, e] : *result) {
      grow(e.totals);
      for (auto& [code, c] : e.byCountry) grow(c);
      for (auto& [date, c] : e.salesByDate) grow(c);
    }
}

// Forgets the overview's remembered value, scale, period and dates, and the
// shared values by country and date: a controller starts from its defaults.
inline void forgetDashboard() {
  KVRUserDefaults& defaults = KVRUserDefaults::standard();
  for (const char* suffix : {"SelectedValue", "SelectedScale", "SelectedPeriod", "StartDate", "EndDate"})
    defaults.removeObjectForKey(QStringLiteral("KVRDashboard") + QString::fromLatin1(suffix));
  KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
}

// A product selling `unitsPerDay` units a day in France from 1 to 15 March
// 2026, its values published.
inline KVRVortelyManagedProduct* frenchSeller(Store& store, int64_t idStore, const QString& name,
                                             KVRStoreAccount* account, float unitsPerDay) {
  KVRVortelyManagedProduct* p = store.product(idStore, name, account);
  auto values = std::make_shared<KVRProductValues>();
  KVRValueSeries series;
  series.valueKey = QStringLiteral("EU-FR");
  series.region = QStringLiteral("EU");
  series.country = QStringLiteral("FR");
  for (KVRCivilDay d = KVRCivilDayFromYMD(2026, 3, 1); d <= KVRCivilDayFromYMD(2026, 3, 15); ++d) {
    KVRTotalsStruct r;
    r.sales = unitsPerDay;
    series.days.push_back(d);
    series.records.push_back(r);
  }
  values->series.push_back(series);
  p->publishValues(values, 15, 0, 10);
  p->firstDate = day(2026, 3, 1);
  p->lastDate = day(2026, 3, 15);
  return p;
}

}  // namespace display_test
